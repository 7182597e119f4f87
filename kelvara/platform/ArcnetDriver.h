/** \addtogroup platform
 @{ */
// The ARCNET card driver's contract: the device name, the control codes and
// the byte layouts of the records exchanged with the driver.
//
// The port and any provider that plays the driver (a real driver's shim or
// the virtual segment) meet here, so both read and write the records through
// the same functions. All records are little-endian.
//
// The driver's behaviour that the port relies on:
// - the port creates two automatic-reset events and registers their handle
//   values (four bytes) with kRegisterTxEvent and kRegisterRxEvent;
// - after a transmit request the driver sets the transmit event when the
//   transmission has ended, and sets the status block's acknowledged value
//   once the destination has acknowledged it;
// - the driver sets the receive event when packets arrive; each
//   kReceivePacket takes the oldest and tells how many were waiting;
// - a transmit request that finds the card busy fails with
//   DeviceBusyError() (DeviceIo.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kelvara::platform::arcnet {

/// The card driver's device name.
inline constexpr char kDeviceName[] = "\\\\.\\CCSI20020Dev";

/// Device type 0x9C40, buffered transfer, any access.
constexpr std::uint32_t ControlCode(std::uint32_t nFunction) {
    return (0x9C40u << 16) | (nFunction << 2);
}

constexpr std::uint32_t kConfigure = ControlCode(0x900);          ///< in: configuration block
constexpr std::uint32_t kTransmitPacket = ControlCode(0x901);     ///< in: transmit record
constexpr std::uint32_t kReceivePacket = ControlCode(0x902);      ///< out: receive record
constexpr std::uint32_t kReadStatus = ControlCode(0x903);         ///< out: status block
constexpr std::uint32_t kRegisterRxEvent = ControlCode(0x906);    ///< in: handle value
constexpr std::uint32_t kUnregisterRxEvent = ControlCode(0x907);  ///< in: handle value
constexpr std::uint32_t kRegisterTxEvent = ControlCode(0x908);    ///< in: handle value
constexpr std::uint32_t kUnregisterTxEvent = ControlCode(0x909);  ///< in: handle value
constexpr std::uint32_t kCancelTransmit = ControlCode(0x90A);     ///< no buffers

static_assert(kConfigure == 0x9C402400u && kCancelTransmit == 0x9C402428u);

constexpr std::size_t kConfigurationSize = 12;    ///< Bytes of a configuration block.
constexpr std::size_t kTransmitRecordSize = 516;  ///< Bytes of a transmit record.
constexpr std::size_t kReceiveRecordSize = 524;   ///< Bytes of a receive record.
constexpr std::size_t kStatusBlockSize = 36;      ///< Bytes of the status block.
constexpr std::size_t kEventValueSize = 4;        ///< Bytes of an event handle value.
constexpr std::size_t kMaxDataLength = 508;       ///< The most data bytes of one packet.
/// Where the status block says whether the last packet was acknowledged.
constexpr std::size_t kStatusAcknowledgedOffset = 24;

/// A configuration block as the driver reads it.
using ConfigurationBlock = std::array<std::uint8_t, kConfigurationSize>;
/// A transmit record as the driver reads it.
using TransmitBuffer = std::array<std::uint8_t, kTransmitRecordSize>;
/// A receive record as the driver writes it.
using ReceiveBuffer = std::array<std::uint8_t, kReceiveRecordSize>;
/// The status block as the driver writes it.
using StatusBuffer = std::array<std::uint8_t, kStatusBlockSize>;
/// An event handle as the driver takes it.
using EventValue = std::array<std::uint8_t, kEventValueSize>;
/// The data bytes of one packet.
using PacketData = std::array<std::uint8_t, kMaxDataLength>;

/// Stores a 32-bit value little-endian, as the driver's records hold it.
inline void StoreLE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

/// Reads a little-endian 32-bit value of a record.
inline std::uint32_t LoadLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

/// Configuration block: bytes 5 and 11 are constants of the driver; byte 6
/// is the station's node id and byte 8 says whether it is set. Node id 0
/// leaves the card's own node id in force.
inline ConfigurationBlock MakeConfigurationBlock(int nNodeId) {
    ConfigurationBlock block{};
    block[5] = 0x18;
    block[6] = nNodeId != 0 ? static_cast<std::uint8_t>(nNodeId) : 0;
    block[8] = nNodeId != 0 ? 1 : 0;
    block[11] = 1;
    return block;
}

/// The node id a configuration block sets; 0 when it sets none.
inline std::uint8_t ConfiguredNodeId(const ConfigurationBlock& block) {
    return block[8] != 0 ? block[6] : 0;
}

/// Transmit record: destination node, data length, 508 bytes of data.
struct TransmitRecord {
    /// Destination node.
    std::uint32_t dwDestination = 0;
    /// Number of data bytes used.
    std::uint32_t dwLength = 0;
    /// The data.
    PacketData data{};

    /// The record as the driver reads it.
    TransmitBuffer Encode() const {
        TransmitBuffer buffer{};
        StoreLE32(&buffer[0], dwDestination);
        StoreLE32(&buffer[4], dwLength);
        for (std::size_t i = 0; i < kMaxDataLength; ++i) {
            buffer[8 + i] = data[i];
        }
        return buffer;
    }
    /// A record from the driver's bytes.
    static TransmitRecord Decode(const TransmitBuffer& buffer) {
        TransmitRecord record;
        record.dwDestination = LoadLE32(&buffer[0]);
        record.dwLength = LoadLE32(&buffer[4]);
        for (std::size_t i = 0; i < kMaxDataLength; ++i) {
            record.data[i] = buffer[8 + i];
        }
        return record;
    }
};

/// Receive record: source node, destination node, data length, 508 bytes of
/// data, and the number of packets that were waiting (this one included; 0:
/// the record holds no packet).
struct ReceiveRecord {
    /// Source node.
    std::uint32_t dwSource = 0;
    /// Destination node.
    std::uint32_t dwDestination = 0;
    /// Number of data bytes used.
    std::uint32_t dwLength = 0;
    /// The data.
    PacketData data{};
    /// Packets still waiting after this one.
    std::uint32_t dwWaiting = 0;

    /// The record as the driver writes it.
    ReceiveBuffer Encode() const {
        ReceiveBuffer buffer{};
        StoreLE32(&buffer[0], dwSource);
        StoreLE32(&buffer[4], dwDestination);
        StoreLE32(&buffer[8], dwLength);
        for (std::size_t i = 0; i < kMaxDataLength; ++i) {
            buffer[12 + i] = data[i];
        }
        StoreLE32(&buffer[520], dwWaiting);
        return buffer;
    }
    /// A record from the driver's bytes.
    static ReceiveRecord Decode(const ReceiveBuffer& buffer) {
        ReceiveRecord record;
        record.dwSource = LoadLE32(&buffer[0]);
        record.dwDestination = LoadLE32(&buffer[4]);
        record.dwLength = LoadLE32(&buffer[8]);
        for (std::size_t i = 0; i < kMaxDataLength; ++i) {
            record.data[i] = buffer[12 + i];
        }
        record.dwWaiting = LoadLE32(&buffer[520]);
        return record;
    }
};

/// Status block: only the acknowledged value at offset 24 has a meaning for
/// the port (non-zero once the last transmission was acknowledged).
inline StatusBuffer MakeStatusBlock(std::uint32_t dwAcknowledged) {
    StatusBuffer buffer{};
    StoreLE32(&buffer[kStatusAcknowledgedOffset], dwAcknowledged);
    return buffer;
}

/// Whether the status block says the last packet was acknowledged (non-zero).
inline std::uint32_t StatusAcknowledged(const StatusBuffer& buffer) {
    return LoadLE32(&buffer[kStatusAcknowledgedOffset]);
}

/// An event handle as the registering calls pass it.
inline EventValue EncodeEventValue(std::uint32_t hEvent) {
    EventValue value{};
    StoreLE32(value.data(), hEvent);
    return value;
}

}  // namespace kelvara::platform::arcnet
/** @} */
