#include "serial/DeviceTable.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Table {
    std::mutex lock;
    std::map<HANDLE, DeviceTable::Device*> devices;
    std::vector<std::unique_ptr<DeviceTable::Device>> all; // in use and free alike
    std::vector<DeviceTable::Device*> free;
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
    Device* d = nullptr;
    if (t.free.empty()) {
        t.all.emplace_back(new Device());
        d = t.all.back().get();
    } else {
        d = t.free.back();
        t.free.pop_back();
    }
    d->timeouts = kFallbackTimeouts;
    d->heldLine = heldLine;
    d->head = d->tail = 0;
    d->drained = true;
    d->port.clear();
    d->device.clear();
    d->h.store(h, std::memory_order_relaxed);
    t.devices[h] = d;
    t_recent = d;
    return *d;
}

DeviceTable::Device* DeviceTable::FindLocked(HANDLE h) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.lock);
    const auto it = t.devices.find(h);
    if (it == t.devices.end())
        return nullptr;
    t_recent = it->second;
    return it->second;
}

bool DeviceTable::Remove(HANDLE h, int* pHeldLine) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.lock);
    const auto it = t.devices.find(h);
    if (it == t.devices.end())
        return false;
    Device* d = it->second;
    t.devices.erase(it);
    *pHeldLine = d->heldLine;
    d->h.store(INVALID_HANDLE_VALUE, std::memory_order_relaxed);
    d->head = d->tail = 0;
    t.free.push_back(d);
    return true;
}
