#include "saved_bytes.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kvsim {

namespace {

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_hex_text(const Json &value, std::size_t size) {
    if (!value.is_string()) return false;
    const std::string &text = value.get_ref<const std::string &>();
    return text.size() == 2 * size && std::all_of(text.begin(), text.end(), [](char c) { return nibble(c) >= 0; });
}

// {"size": N, "ranges": [[at, length], ...], "data": the ranges' bytes one after another}, the
// ranges in order, apart and inside the size.
bool is_image(const Json &value, std::size_t size) {
    if (!value.is_object() || value.size() != 3 || !value.contains("size") || !value.contains("ranges") ||
        !value.contains("data"))
        return false;
    const Json &ranges = value["ranges"], &data = value["data"];
    if (value["size"] != size || !ranges.is_array() || !data.is_binary()) return false;
    std::size_t end = 0, total = 0;
    for (const Json &range : ranges) {
        if (!range.is_array() || range.size() != 2 || !range[0].is_number_unsigned() ||
            !range[1].is_number_unsigned())
            return false;
        const std::uint64_t at = range[0], length = range[1];
        if (at < end || at > size || length == 0 || length > size - at) return false;
        end = static_cast<std::size_t>(at + length);
        total += static_cast<std::size_t>(length);
    }
    return data.get_binary().size() == total;
}

bool is_numbers(const Json &value, std::size_t size) {
    if (!value.is_array() || value.size() != size) return false;
    return std::all_of(value.begin(), value.end(),
                       [](const Json &v) { return v.is_number_unsigned() && v.get<std::uint64_t>() <= 255; });
}

}  // namespace

SavedBytes::SavedBytes(std::string key, std::size_t size, std::uint8_t fill, Form form)
    : key_(std::move(key)), size_(size), fill_(fill), form_(form), pages_((size + kPage - 1) / kPage) {}

std::uint8_t SavedBytes::operator[](std::size_t at) const {
    const auto &page = pages_[at / kPage];
    return page ? page[at % kPage] : fill_;
}

void SavedBytes::store(std::size_t at, const std::uint8_t *data, std::size_t length) {
    while (length > 0) {
        const std::size_t offset = at % kPage, n = std::min(length, kPage - offset);
        std::uint8_t *&page = pages_[at / kPage];
        if (!page && std::any_of(data, data + n, [this](std::uint8_t b) { return b != fill_; })) {
            owned_.emplace_back(new std::uint8_t[kPage]);
            page = owned_.back().get();
            std::memset(page, fill_, kPage);
        }
        if (page) std::memcpy(page + offset, data, n);
        at += n;
        data += n;
        length -= n;
    }
}

void SavedBytes::copy_out(std::size_t at, std::uint8_t *out, std::size_t length) const {
    while (length > 0) {
        const std::size_t offset = at % kPage, n = std::min(length, kPage - offset);
        const std::uint8_t *page = pages_[at / kPage];
        if (page)
            std::memcpy(out, page + offset, n);
        else
            std::memset(out, fill_, n);
        at += n;
        out += n;
        length -= n;
    }
}

void SavedBytes::write(std::size_t at, const std::uint8_t *data, std::size_t length) {
    if (length == 0) return;
    store(at, data, length);
    mark(at, at + length);
}

std::vector<std::uint8_t> SavedBytes::bytes() const {
    std::vector<std::uint8_t> out(size_);
    copy_out(0, out.data(), size_);
    return out;
}

bool SavedBytes::page_holds_data(std::size_t page) const {
    if (!pages_[page]) return false;
    const std::uint8_t *bytes = pages_[page];
    const std::size_t length = std::min(kPage, size_ - page * kPage);
    return std::any_of(bytes, bytes + length, [this](std::uint8_t b) { return b != fill_; });
}

void SavedBytes::mark(std::size_t begin, std::size_t end) {
    auto it = changed_.upper_bound(begin);
    if (it != changed_.begin() && std::prev(it)->second >= begin) {
        --it;
        begin = it->first;
    }
    while (it != changed_.end() && it->first <= end) {
        end = std::max(end, it->second);
        it = changed_.erase(it);
    }
    changed_.emplace(begin, end);
}

void SavedBytes::check(const Json &value) const {
    if (form_ == Form::Numbers) {
        if (!is_numbers(value, size_))
            throw std::runtime_error("\"" + key_ + "\" must be " + std::to_string(size_) + " numbers from 0 to 255");
        return;
    }
    if (!is_image(value, size_) && !is_hex_text(value, size_))
        throw std::runtime_error("\"" + key_ + "\" must be an image of " + std::to_string(size_) + " bytes");
}

void SavedBytes::load(Json &value) {
    std::fill(pages_.begin(), pages_.end(), nullptr);
    owned_.clear();
    adopted_ = {};
    if (value.is_object()) {
        load_image(value);
    } else {
        const auto byte_at = [&value](std::size_t i) {
            if (value.is_array()) return static_cast<std::uint8_t>(value[i].get<unsigned>());
            const std::string &text = value.get_ref<const std::string &>();
            return static_cast<std::uint8_t>(nibble(text[2 * i]) << 4 | nibble(text[2 * i + 1]));
        };
        std::uint8_t chunk[kPage];
        for (std::size_t at = 0; at < size_; at += kPage) {
            const std::size_t n = std::min(kPage, size_ - at);
            for (std::size_t i = 0; i < n; ++i) chunk[i] = byte_at(at + i);
            store(at, chunk, n);
        }
    }
    forget_changes();
    older_form_ = value.is_string();
}

// Ranges that start on a page boundary and fill their last page, or end the memory, as saves
// write them, keep their bytes where the file's reader put them: no copy, no page allocated.
void SavedBytes::load_image(Json &image) {
    std::vector<std::uint8_t> &data = image["data"].get_binary();
    const Json &ranges = image["ranges"];
    const bool in_place = std::all_of(ranges.begin(), ranges.end(), [this](const Json &range) {
        const std::size_t at = range[0], length = range[1];
        return at % kPage == 0 && (length % kPage == 0 || at + length == size_);
    });
    if (in_place) adopted_ = std::move(data);
    std::size_t from = 0;
    for (const Json &range : ranges) {
        const std::size_t at = range[0], length = range[1];
        if (!in_place) store(at, data.data() + from, length);
        for (std::size_t offset = 0; in_place && offset < length; offset += kPage)
            pages_[(at + offset) / kPage] = adopted_.data() + from + offset;
        from += length;
    }
}

Json SavedBytes::encode() const {
    if (form_ == Form::Numbers) return Json(bytes());
    Json ranges = Json::array();
    std::size_t end = 0, total = 0;
    for (std::size_t page = 0; page < pages_.size(); ++page) {
        if (!page_holds_data(page)) continue;
        const std::size_t at = page * kPage, length = std::min(kPage, size_ - at);
        if (!ranges.empty() && end == at)
            ranges.back()[1] = ranges.back()[1].get<std::size_t>() + length;
        else
            ranges.push_back({at, length});
        end = at + length;
        total += length;
    }
    std::vector<std::uint8_t> data(total);
    std::size_t from = 0;
    for (const Json &range : ranges) {
        const std::size_t at = range[0], length = range[1];
        copy_out(at, data.data() + from, length);
        from += length;
    }
    Json image = Json::object();
    image["size"] = size_;
    image["ranges"] = std::move(ranges);
    image["data"] = Json::binary(std::move(data));
    return image;
}

// The stored value is read into a scratch copy, this process's changed bytes go over it (bits of
// one-time-programmable bytes only ever set), and the copy is written back.
void SavedBytes::merge_into(Json &value) const {
    SavedBytes stored(key_, size_, fill_, form_);
    stored.load(value);
    value = nullptr;  // the old image's bytes go before the new one is built
    std::uint8_t chunk[kPage];
    for (const auto &[begin, end] : changed_) {
        for (std::size_t at = begin; at < end; at += kPage) {
            const std::size_t n = std::min(kPage, end - at);
            copy_out(at, chunk, n);
            for (auto it = one_time_.lower_bound(at); it != one_time_.end() && *it < at + n; ++it)
                chunk[*it - at] |= stored[*it];
            stored.store(at, chunk, n);
        }
    }
    value = stored.encode();
}

}  // namespace kvsim
