#include "cli/TtyFacts.h"

#include <algorithm>

TtyFacts TtyFacts::Of(const TtyClass& ttys, dev_t number) {
    TtyFacts facts;
    facts.name = ttys.NameOf(number);
    if (facts.name.empty())
        return facts;
    static_cast<TtyClass::Adapter&>(facts) = ttys.AdapterOf(facts.name);

    const TtyClass::UdevEntry entry = ttys.Udev(number);
    facts.udevKnown = entry.known;
    facts.modemManagerIgnores = std::find(entry.properties.begin(), entry.properties.end(),
                                          "ID_MM_DEVICE_IGNORE=1") != entry.properties.end();
    facts.byIdName = ttys.ClaimedByIdName(entry);
    // udev gives the name to one device, the last it saw: two adapters without serial numbers
    // of the same make both claim it.
    if (facts.byIdName.empty())
        return facts;
    for (const std::string& name : ttys.Names()) {
        const bool adapter = TtyClass::InFamily(name, TtyClass::Family::Usb) ||
                             TtyClass::InFamily(name, TtyClass::Family::Acm);
        if (adapter && name != facts.name &&
            ttys.ClaimedByIdName(ttys.Udev(ttys.NumberOf(name))) == facts.byIdName)
            facts.sharers.push_back(name);
    }
    return facts;
}
