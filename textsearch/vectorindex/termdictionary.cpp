#include "textsearch/vectorindex/termdictionary.h"

namespace vindex {

void TTermDictionary::Grow(size_t size) {
    std::vector<TSlot> slots(size);
    const size_t mask = slots.size() - 1;
    for (uint32_t id = 0; id < Count(); ++id) {
        const TNameKey key(Key(id));
        size_t s = key.hash & mask;
        while (slots[s].id1 != 0)
            s = (s + 1) & mask;
        slots[s] = {key.prefix, id + 1, key.Check()};
    }
    fslots.swap(slots);
}

}  // namespace vindex
