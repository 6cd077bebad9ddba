#pragma once

#include <string>
#include <vector>

namespace quavera::testing {

// What the fakes did, in order, when several of them share one journal.
struct Journal {
    std::vector<std::string> entries;
    void add(std::string entry) { entries.push_back(std::move(entry)); }
};

inline void Note(Journal* journal, std::string entry) {
    if (journal)
        journal->add(std::move(entry));
}

} // namespace quavera::testing
