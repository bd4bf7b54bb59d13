#include "registry.h"

namespace kvsim {

bool Device::get(const std::string &, std::vector<std::uint8_t> &) const { return false; }
bool Device::put(const std::string &, const std::uint8_t *, std::size_t) { return false; }
bool Device::set(const std::string &, double) { return false; }

namespace {
void check_entry(const Json &entry) {
    if (!entry.is_object()) throw std::runtime_error("expected an object");
}
}  // namespace

void Device::load_state(Json &entry) {
    check_entry(entry);
    for (const SavedBytes *field : kept_) {
        auto value = entry.find(field->key());
        if (value == entry.end()) throw std::runtime_error("\"" + field->key() + "\" is missing");
        field->check(*value);
    }
    for (SavedBytes *field : kept_) field->load(entry[field->key()]);
}

Json Device::save_state() const {
    Json entry = Json::object();
    for (const SavedBytes *field : kept_) entry[field->key()] = field->encode();
    return entry;
}

void Device::merge_state(Json &entry) const {
    if (entry.is_null()) {
        entry = save_state();
        return;
    }
    check_entry(entry);
    for (const SavedBytes *field : kept_) {
        auto value = entry.find(field->key());
        if (value != entry.end()) field->check(*value);
    }
    for (const SavedBytes *field : kept_) {
        if (!field->changed()) continue;
        auto value = entry.find(field->key());
        if (value == entry.end())
            entry[field->key()] = field->encode();
        else
            field->merge_into(*value);
    }
}

bool Device::has_changes() const {
    for (const SavedBytes *field : kept_)
        if (field->changed()) return true;
    return false;
}

void Device::forget_changes() {
    for (SavedBytes *field : kept_) field->forget_changes();
}

BusKinds &bus_kinds() {
    static BusKinds kinds("bus");
    return kinds;
}

}  // namespace kvsim
