#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/serial_port.h"

namespace orv::sim {

// Log texts, one per frame: what a frame from the panel asks, and what a frame from the
// controller says.
std::string DescribeRequest(std::uint8_t command, std::span<const std::uint8_t> data);
std::string DescribeSent(std::uint8_t command, std::span<const std::uint8_t> data);
std::string DescribeReport(std::uint8_t kind, std::uint16_t value);

// "12 AB 03": the bytes as the log shows them.
std::string HexBytes(std::span<const std::uint8_t> bytes);
// Bit width-1 first; the text the panel's event log shows for a value.
std::string BitText(std::uint16_t value, int width);
// "12:00:01.234 TX 02 01 06 00 2B 03  meaning"
std::string LogLine(const std::string& clock, const char* direction,
                    std::span<const std::uint8_t> bytes, const std::string& meaning);

}  // namespace orv::sim
