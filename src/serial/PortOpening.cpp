#include "serial/PortOpening.h"

#include "serial/PortNames.h"

namespace kestro {

bool OpenWithFallback(const PortTarget& target, bool fallback, const CableLookup& findCable,
                      const std::function<AttemptResult(const PortAttempt&)>& attempt, std::string& error) {
    error.clear();
    PortAttempt first{target.number, target.device, target.name};
    if (target.Automatic()) {
        first.number = findCable(kAutomaticInstance);
        if (first.number < 1) {
            error = std::string("no such device: no programming cable (USB 10C4:EA60, instance ") +
                    kAutomaticInstance + ") is connected";
            return false;
        }
    }
    if (first.label.empty()) first.label = PortName(first.number);

    const AttemptResult own = attempt(first);
    if (own.opened) return true;
    error = own.reason;
    if (own.final || !fallback) return false;

    // The cable found by its fall-back instance, by its number.
    const int number = findCable(kFallbackInstance);
    if (number < 1) return false;
    const AttemptResult cable = attempt(PortAttempt{number, {}, PortName(number)});
    if (cable.opened) {
        error.clear();
        return true;
    }
    error = cable.final ? cable.reason : own.reason + "; the cable's port " + cable.reason;
    return false;
}

}  // namespace kestro
