// The video player control as the shell sees it: properties set by name, and one method without
// arguments. The real control lies outside this program; StandInPlayer is the one built here.
#pragma once

#include "player/link_parser.h"

#include <stdexcept>
#include <string>

namespace zuvo {

// What a control throws when it rejects one property; the shell skips that property only.
class PlayerControlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class PlayerControl {
public:
    virtual ~PlayerControl() = default;
    // Sets the property `name` (lower case, one of the link parameters) to a flag, number or text.
    // May throw PlayerControlError.
    virtual void SetProperty(const std::string& name, const PropertyValue& value) = 0;
    // The no-argument method, called after a link that carried nat, cgi and action. Its outcome is
    // of no interest to the shell.
    virtual void Start() = 0;
};

struct LinkOutcome {
    bool opened = false;        // the command line held a "-zuvopurl " link with the scheme
    int propertiesSet = 0;
    int propertiesFailed = 0;   // rejected by the control and skipped
    bool startCalled = false;
};

// Opens the link on `commandLine` on `control`. With no control, or no link, nothing happens.
// A property the control rejects is skipped and the rest of the link still applies.
LinkOutcome OpenLink(const std::string& commandLine, PlayerControl* control);

}  // namespace zuvo
