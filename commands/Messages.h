#pragma once

#include <array>
#include <string_view>

namespace kelvara::messages {

// Every message a generator can reject with, byte for byte as the user sees it.
inline constexpr std::string_view kFillInAllFields = "Please fill in all fields";
inline constexpr std::string_view kNotify = "Please input correct included \"Notify\" Characteristic!";
inline constexpr std::string_view kWrite =
    "Please input correct included \"Write\" or \"WriteWithoutResponse\" Characteristic!";
inline constexpr std::string_view kDifference =
    "Those two Characteristics is defferent more than 1 Bytes, We cant use it!";
inline constexpr std::string_view kBeaconUuid = "Please input correct iBeacon UUID!";
inline constexpr std::string_view kBeaconUuidLength = "Please input correct iBeacon UUID value!";
inline constexpr std::string_view kBeaconMajor = "Please input correct iBeacon Major value!";
inline constexpr std::string_view kBeaconMinor = "Please input correct iBeacon Minor value!";

inline constexpr std::array kAll = {kFillInAllFields, kNotify,    kWrite,        kDifference,
                                    kBeaconUuid,      kBeaconUuidLength, kBeaconMajor, kBeaconMinor};

} // namespace kelvara::messages
