// The list of simulated devices known by name.
#include "loopback_model.h"
#include "model_registry.h"
#include "scanner_model.h"
#include "testbed.h"

namespace sim {

const std::vector<ModelEntry>& registered_models()
{
    static const std::vector<ModelEntry> models = {
        {"loopback", "the scanner's USB identity; echoes every bulk OUT transfer back on bulk IN",
         [](Testbed& testbed) { testbed.add(scanner_device(), std::make_unique<LoopbackModel>(true)); }},
        {"scanner", "the simulated scanner: requests, job frames, records, sense data and image data",
         [](Testbed& testbed) { testbed.add(scanner_device(), std::make_unique<ScannerModel>()); }},
    };
    return models;
}

const ModelEntry* find_model(const std::string& name)
{
    for (const ModelEntry& entry : registered_models())
        if (entry.name == name) return &entry;
    return nullptr;
}

} // namespace sim
