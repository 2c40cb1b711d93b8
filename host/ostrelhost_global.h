#pragma once

#include <QtCore/qglobal.h>

#if defined(OSTRELHOST_LIBRARY)
#  define OSTRELHOST_EXPORT Q_DECL_EXPORT
#else
#  define OSTRELHOST_EXPORT Q_DECL_IMPORT
#endif
