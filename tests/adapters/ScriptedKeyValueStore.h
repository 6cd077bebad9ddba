#pragma once

#include "interfaces/KeyValueStore.h"

#include <algorithm>
#include <vector>

namespace quavera::testing {

// A store with one key and at most one value, whose calls report the codes a test chooses.
class ScriptedKeyValueStore final : public KeyValueStore {
public:
    std::int32_t openResult = store_code::Success;
    std::int32_t setResult = store_code::Success;
    std::int32_t closeResult = store_code::Success;
    std::optional<std::vector<std::uint8_t>> value;
    int calls = 0;
    int openHandles = 0;

    std::int32_t openKey(StoreRoot, const std::string&, Handle& handle) override {
        ++calls;
        if (openResult == store_code::Success) {
            handle = kHandle;
            ++openHandles;
        }
        return openResult;
    }

    std::int32_t queryValue(Handle, const std::string&, std::vector<std::uint8_t>& data,
                            std::uint32_t& size) override {
        ++calls;
        if (!value) {
            return store_code::FileNotFound;
        }
        size = static_cast<std::uint32_t>(value->size());
        if (value->size() > data.size()) {
            return store_code::MoreData;
        }
        std::copy(value->begin(), value->end(), data.begin());
        return store_code::Success;
    }

    std::int32_t setValue(Handle, const std::string&,
                          const std::vector<std::uint8_t>& data) override {
        ++calls;
        if (setResult == store_code::Success) {
            value = data;
        }
        return setResult;
    }

    std::int32_t closeKey(Handle handle) override {
        ++calls;
        if (handle == kHandle) {
            --openHandles;
        }
        return closeResult;
    }

private:
    static constexpr Handle kHandle = 41;
};

} // namespace quavera::testing
