#pragma once

#include <stdexcept>
#include <string_view>

namespace kavrel {

// Failures of the music controller itself, as opposed to those the music app reports.
enum class NativeError { invalidCommand };

std::string_view toString(NativeError error);

class NativeException : public std::runtime_error {
public:
    explicit NativeException(NativeError error);
    NativeError error() const noexcept { return code; }

private:
    NativeError code;
};

} // namespace kavrel
