#include "saved_bytes.h"

#include <algorithm>
#include <stdexcept>

namespace kvsim {

namespace {

const char kDigits[] = "0123456789abcdef";

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

SavedBytes::SavedBytes(std::string key, std::size_t size, std::uint8_t fill, Form form)
    : key_(std::move(key)), size_(size), fill_(fill), form_(form), pages_((size + kPage - 1) / kPage) {}

std::uint8_t SavedBytes::operator[](std::size_t at) const {
    const auto &page = pages_[at / kPage];
    return page ? page[at % kPage] : fill_;
}

void SavedBytes::write(std::size_t at, std::uint8_t value) {
    auto &page = pages_[at / kPage];
    if (!page) {
        page.reset(new std::uint8_t[kPage]);
        std::fill(page.get(), page.get() + kPage, fill_);
    }
    page[at % kPage] = value;
    mark(at, at + 1);
}

void SavedBytes::write(std::size_t at, const std::uint8_t *data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) write(at + i, data[i]);
}

std::vector<std::uint8_t> SavedBytes::bytes() const {
    std::vector<std::uint8_t> out(size_);
    for (std::size_t i = 0; i < size_; ++i) out[i] = (*this)[i];
    return out;
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

std::uint8_t SavedBytes::merged(std::size_t at, std::uint8_t stored) const {
    return one_time_.count(at) ? static_cast<std::uint8_t>(stored | (*this)[at]) : (*this)[at];
}

void SavedBytes::check(const Json &value) const {
    const std::string what = "\"" + key_ + "\" must be ";
    if (form_ == Form::Hex) {
        if (!value.is_string() || value.get_ref<const std::string &>().size() != 2 * size_)
            throw std::runtime_error(what + std::to_string(2 * size_) + " hexadecimal digits");
        for (char c : value.get_ref<const std::string &>())
            if (nibble(c) < 0) throw std::runtime_error(what + std::to_string(2 * size_) + " hexadecimal digits");
        return;
    }
    if (!value.is_array() || value.size() != size_)
        throw std::runtime_error(what + std::to_string(size_) + " numbers from 0 to 255");
    for (const Json &v : value)
        if (!v.is_number_unsigned() || v.get<std::uint64_t>() > 255)
            throw std::runtime_error(what + std::to_string(size_) + " numbers from 0 to 255");
}

void SavedBytes::load(const Json &value) {
    for (auto &page : pages_) page.reset();
    const auto put = [this](std::size_t at, std::uint8_t byte) {
        if (byte != (*this)[at]) write(at, byte);
    };
    if (form_ == Form::Hex) {
        const std::string &text = value.get_ref<const std::string &>();
        for (std::size_t i = 0; i < size_; ++i)
            put(i, static_cast<std::uint8_t>(nibble(text[2 * i]) << 4 | nibble(text[2 * i + 1])));
    } else {
        for (std::size_t i = 0; i < size_; ++i) put(i, static_cast<std::uint8_t>(value[i].get<unsigned>()));
    }
    forget_changes();
}

Json SavedBytes::encode() const {
    if (form_ == Form::Numbers) return Json(bytes());
    std::string text(2 * size_, '\0');
    for (std::size_t i = 0; i < size_; ++i) {
        const std::uint8_t byte = (*this)[i];
        text[2 * i] = kDigits[byte >> 4];
        text[2 * i + 1] = kDigits[byte & 15];
    }
    return Json(std::move(text));
}

void SavedBytes::merge_into(Json &value) const {
    for (const auto &range : changed_) {
        for (std::size_t i = range.first; i < range.second; ++i) {
            if (form_ == Form::Numbers) {
                value[i] = merged(i, static_cast<std::uint8_t>(value[i].get<unsigned>()));
                continue;
            }
            std::string &text = value.get_ref<std::string &>();
            const std::uint8_t byte = merged(i, static_cast<std::uint8_t>(nibble(text[2 * i]) << 4 | nibble(text[2 * i + 1])));
            text[2 * i] = kDigits[byte >> 4];
            text[2 * i + 1] = kDigits[byte & 15];
        }
    }
}

}  // namespace kvsim
