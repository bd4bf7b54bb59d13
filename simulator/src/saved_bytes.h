// Bytes a device keeps between processes under one key of its state-file entry: a sparse image
// (the ranges that differ from the fill byte, their bytes held as one binary value), or an array
// of numbers for a few registers. Writes are tracked as ranges, so a save patches only the bytes
// this process changed into what the file holds at that moment, and what is held for saving
// grows with the changes, not with the size. Storage is allocated a page at a time on the first
// write, so a large memory nobody wrote costs nothing. Bytes marked one-time-programmable merge
// as an OR: their bits are only ever set.
//
// An image is also read in the older form, a text of two hexadecimal digits per byte; a field
// loaded from it counts as changed, so the next save writes it in the current form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kvsim {

using Json = nlohmann::json;

class SavedBytes {
public:
    enum class Form { Image, Numbers };

    SavedBytes(std::string key, std::size_t size, std::uint8_t fill, Form form = Form::Image);
    SavedBytes(const SavedBytes &) = delete;
    SavedBytes &operator=(const SavedBytes &) = delete;

    const std::string &key() const { return key_; }
    std::size_t size() const { return size_; }
    std::uint8_t operator[](std::size_t at) const;
    void write(std::size_t at, std::uint8_t value) { write(at, &value, 1); }
    void write(std::size_t at, const std::uint8_t *data, std::size_t length);
    std::vector<std::uint8_t> bytes() const;
    void set_one_time(std::size_t at) { one_time_.insert(at); }

    // The state-file side. `check` throws std::runtime_error for a value of the wrong shape.
    void check(const Json &value) const;
    // A value `check` accepted; marks nothing changed. An image's bytes are taken out of `value`
    // and kept in place where its ranges start on page boundaries.
    void load(Json &value);
    Json encode() const;
    // Patches the changed bytes into `value`, which `check` accepted, and writes it in the
    // current form.
    void merge_into(Json &value) const;
    bool changed() const { return !changed_.empty() || older_form_; }
    void forget_changes() {
        changed_.clear();
        older_form_ = false;
    }

private:
    static constexpr std::size_t kPage = 4096;
    // Copies bytes in without marking them; a page nobody wrote stays unallocated while the
    // bytes for it are all the fill byte.
    void store(std::size_t at, const std::uint8_t *data, std::size_t length);
    void load_image(Json &image);
    void copy_out(std::size_t at, std::uint8_t *out, std::size_t length) const;
    bool page_holds_data(std::size_t page) const;
    void mark(std::size_t begin, std::size_t end);

    std::string key_;
    std::size_t size_;
    std::uint8_t fill_;
    Form form_;
    std::vector<std::uint8_t *> pages_;  // null: every byte of the page is the fill byte
    std::vector<std::unique_ptr<std::uint8_t[]>> owned_;  // pages allocated one at a time
    std::vector<std::uint8_t> adopted_;                   // a loaded image's bytes, pages inside them
    std::map<std::size_t, std::size_t> changed_;  // begin -> end, disjoint and not touching
    std::set<std::size_t> one_time_;
    bool older_form_ = false;  // loaded from a value in the older form
};

}  // namespace kvsim
