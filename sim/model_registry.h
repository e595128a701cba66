// The simulated devices that varnoth-sim (and tests) can build by name. Each entry populates a
// testbed: it adds its device(s) with their model(s). New models join by adding an entry to the
// list in models.cpp; the harness does not change.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class Testbed;

struct ModelEntry {
    std::string name;
    std::string summary;
    std::function<void(Testbed&)> populate;
};

// Every registered model, in the order of the list.
const std::vector<ModelEntry>& registered_models();
// The entry with this name, or nothing. "scanner:PROFILE" names the simulated scanner with one of
// its profiles (scanner_profiles.h).
std::optional<ModelEntry> find_model(const std::string& name);

} // namespace sim
