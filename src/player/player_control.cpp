#include "player/player_control.h"

namespace zuvo {

LinkOutcome OpenLink(const std::string& commandLine, PlayerControl* control) {
    LinkOutcome outcome;
    if (!control) return outcome;
    const std::optional<ParsedLink> parsed = ParseCommandLine(commandLine);
    if (!parsed) return outcome;
    outcome.opened = true;
    for (const PropertyAssignment& a : parsed->assignments) {
        try {
            control->SetProperty(a.name, a.value);
            ++outcome.propertiesSet;
        } catch (const std::exception&) {
            ++outcome.propertiesFailed;  // this property only; go on with the next pair
        }
    }
    if (parsed->callStart()) {
        try {
            control->Start();
        } catch (const std::exception&) {
            // The method's result is ignored, failure included.
        }
        outcome.startCalled = true;
    }
    return outcome;
}

}  // namespace zuvo
