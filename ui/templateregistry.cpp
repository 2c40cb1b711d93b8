#include "templateregistry.h"

#include <algorithm>
#include <vector>

namespace {
std::vector<std::span<const DialogTemplate>> &registered()
{
    static std::vector<std::span<const DialogTemplate>> sets;
    return sets;
}
} // namespace

void RegisterDialogTemplates(std::span<const DialogTemplate> templates)
{
    registered().push_back(templates);
}

void UnregisterDialogTemplates(std::span<const DialogTemplate> templates)
{
    auto &sets = registered();
    std::erase_if(sets, [templates](std::span<const DialogTemplate> set) {
        return set.data() == templates.data();
    });
}

const DialogTemplate *FindDialogTemplate(int id)
{
    for (auto set : registered()) {
        const auto found = std::find_if(set.begin(), set.end(),
                                        [id](const DialogTemplate &t) { return t.id == id; });
        if (found != set.end())
            return &*found;
    }
    return nullptr;
}
