#include "json_reader.h"

#include <cmath>
#include <vector>

namespace kvsim {

namespace {

// Builds the document from the parser's events, keeping the path to the value being read.
class Builder {
public:
    explicit Builder(Json &root) : root_(root) {}

    bool null() { return add(Json(nullptr)); }
    bool boolean(bool value) { return add(Json(value)); }
    bool number_integer(Json::number_integer_t value) { return add(Json(value)); }
    bool number_unsigned(Json::number_unsigned_t value) { return add(Json(value)); }
    bool number_float(Json::number_float_t value, const Json::string_t &) {
        if (!std::isfinite(value)) fail("number out of range");
        return add(Json(value));
    }
    bool string(Json::string_t &value) { return add(Json(std::move(value))); }
    bool binary(Json::binary_t &) { return fail("binary values are not JSON text"); }
    bool start_object(std::size_t) { return open(Json::object()); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(Json::string_t &key) {
        Frame &frame = stack_.back();
        frame.key = std::move(key);
        if (frame.value->contains(frame.key)) fail("duplicate key");
        return true;
    }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &e) {
        const std::string what = e.what();
        const std::size_t at = what.find("] ");
        fail(at == std::string::npos ? what : what.substr(at + 2));
        return false;
    }

private:
    struct Frame {
        Json *value;
        std::string key;     // of the member being read, in an object
        std::size_t index;   // of the element being read, in an array
    };

    std::string path() const {
        std::string text;
        for (const Frame &frame : stack_) {
            if (frame.value->is_object())
                text += (text.empty() ? "" : ".") + frame.key;
            else
                text += "[" + std::to_string(frame.index) + "]";
        }
        return text.empty() ? "top level" : text;
    }
    bool fail(const std::string &what) const { throw JsonFault(path() + ": " + what); }

    Json *place(Json value) {
        if (stack_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Frame &frame = stack_.back();
        if (frame.value->is_array()) {
            frame.value->push_back(std::move(value));
            return &frame.value->back();
        }
        return &((*frame.value)[frame.key] = std::move(value));
    }
    // An array's index moves on once its element is complete.
    void element_done() {
        if (!stack_.empty() && stack_.back().value->is_array()) ++stack_.back().index;
    }
    bool add(Json value) {
        place(std::move(value));
        element_done();
        return true;
    }
    bool open(Json container) {
        if (stack_.size() >= kMaxJsonDepth) fail("nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
        stack_.push_back({place(std::move(container)), "", 0});
        return true;
    }
    bool close() {
        stack_.pop_back();
        element_done();
        return true;
    }

    Json &root_;
    std::vector<Frame> stack_;
};

}  // namespace

Json parse_json(const std::string &text) {
    Json root;
    Builder builder(root);
    Json::sax_parse(text, &builder);
    return root;
}

}  // namespace kvsim
