// A clipboard for tests: keeps the last text set and counts the calls.
#pragma once

#include <mutex>
#include <string>

#include "platform/Clipboard.h"

namespace corvane::platform {

class FakeClipboard final : public Clipboard {
public:
    bool SetText(const std::string& value) override
    {
        std::lock_guard<std::mutex> guard(lock);
        text = value;
        ++count;
        return true;
    }
    std::string Text() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return text;
    }
    int SetCount() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return count;
    }

private:
    mutable std::mutex lock;
    std::string text;
    int count = 0;
};

} // namespace corvane::platform
