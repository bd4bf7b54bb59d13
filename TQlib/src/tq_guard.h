// Every entry point runs its body through guarded(): no exception leaves the library.
#pragma once

#include "korvin_types.h"

namespace tq {

constexpr int kRefused = -1;  // TQlib's own refusal (bad argument, handle not open)
constexpr int kNullArgument = STATUS_BAD_PARAMETER;  // a null pointer argument, refused before anything

inline int result(KV_STATUS status) { return status == STATUS_SUCCESS ? 0 : static_cast<int>(status); }

template <typename Body>
int guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return kRefused;
    }
}

}  // namespace tq
