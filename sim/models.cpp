// The list of simulated devices known by name.
#include "loopback_model.h"
#include "model_registry.h"
#include "scanner_model.h"
#include "scanner_profiles.h"
#include "testbed.h"

namespace sim {

const std::vector<ModelEntry>& registered_models()
{
    static const std::vector<ModelEntry> models = {
        {"loopback", "the scanner's USB identity; echoes every bulk OUT transfer back on bulk IN",
         [](Testbed& testbed) { testbed.add(scanner_device(), std::make_unique<LoopbackModel>(true)); }},
        {"scanner", "the simulated scanner (\"default\" profile); scanner:PROFILE picks another",
         [](Testbed& testbed) { testbed.add(scanner_device(), std::make_unique<ScannerModel>()); }},
        {"none", "a bus with no device: the program finds no scanner", [](Testbed&) {}},
    };
    return models;
}

std::optional<ModelEntry> find_model(const std::string& name)
{
    for (const ModelEntry& entry : registered_models())
        if (entry.name == name) return entry;
    const std::string prefix = "scanner:";
    if (name.rfind(prefix, 0) != 0) return std::nullopt;
    const std::string profile = name.substr(prefix.size());
    std::optional<ScannerRecords> records = scanner_profile(profile);
    if (!records) return std::nullopt;
    return ModelEntry{name, "the simulated scanner, profile " + profile, [records = *records](Testbed& testbed) {
                          testbed.add(scanner_device(), std::make_unique<ScannerModel>(records));
                      }};
}

} // namespace sim
