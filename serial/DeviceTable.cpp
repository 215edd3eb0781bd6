#include "serial/DeviceTable.h"

#include <map>
#include <mutex>

namespace {

struct Table {
    std::mutex lock;
    std::map<HANDLE, std::unique_ptr<DeviceTable::Device>> devices;
};

// Never destroyed: a port object in static storage may close its device after every other
// static object of the program is gone.
Table& TheTable() {
    static Table* table = new Table();
    return *table;
}

} // namespace

DeviceTable::Device& DeviceTable::Add(HANDLE h, int heldLine) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.lock);
    std::unique_ptr<Device>& d = t.devices[h];
    d.reset(new Device());
    d->heldLine = heldLine;
    const unsigned generation = s_generation.fetch_add(1, std::memory_order_acq_rel) + 1;
    t_recent = {h, generation, d.get()};
    return *d;
}

DeviceTable::Device* DeviceTable::FindLocked(HANDLE h) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.lock);
    const auto it = t.devices.find(h);
    if (it == t.devices.end())
        return nullptr;
    t_recent = {h, s_generation.load(std::memory_order_acquire), it->second.get()};
    return it->second.get();
}

std::unique_ptr<DeviceTable::Device> DeviceTable::Remove(HANDLE h) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.lock);
    const auto it = t.devices.find(h);
    if (it == t.devices.end())
        return nullptr;
    std::unique_ptr<Device> d = std::move(it->second);
    t.devices.erase(it);
    s_generation.fetch_add(1, std::memory_order_acq_rel);
    return d;
}
