// Value types, enumerations and records of the card client control.
//
// The widths are part of the contract with hosts: a Boolean is 16 bits with
// true = -1, an Integer 16 bits, a Long 32 bits, a Byte 8 bits and every
// enumeration 32 bits. Text is carried as QString holding one 8-bit character
// per byte (Latin-1), so every byte value survives the round trip.
#pragma once

#include <QString>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace quesmer {

using Boolean = int16_t;  // true is -1, false is 0
using Integer = int16_t;
using Long = int32_t;
using Byte = uint8_t;

constexpr Boolean TRUE_B = -1;
constexpr Boolean FALSE_B = 0;

enum ErrTyp : int32_t { ERR_NON = 0, ERR_NET = 1, ERR_MSG = 2, ERR_XML = 3 };
enum EncTyp : int32_t { ENC_BIN = 0, ENC_HEX = 1, ENC_B64 = 2, ENC_B64MIME = 3 };
enum AGCTyp : int32_t { AGC_OFF = 0, AGC_ON = 1, AGC_LOWNOISE = 2 };
enum ALSTyp : int32_t { ALS_OFF = 0, ALS_STOP = 1, ALS_START = 2 };
enum AFCTyp : int32_t { AFC_OFF = 0, AFC_ON = 1 };
enum TXTTyp : int32_t { TXT_RAW = 0, TXT_TRANSLATED = 1, TXT_ALL = 2 };

// What the server's information frame told about it.
struct ServerInformation {
    Boolean IsOk = FALSE_B;  // received on the current connection
    Long ConnectionInfo = 0;
    Byte ServerMajorVersion = 0;
    Byte ServerMinorVersion = 0;
    Byte ProtocolMajorVersion = 0;
    Byte ProtocolMinorVersion = 0;
    Long ServerBuildId = 0;
    QString BuildDate;
    QString BuildTime;
    QString SoftwareRelease;
    QString CardType;
};

// One entry of the card table.
struct CardStatus {
    Boolean IsOk = FALSE_B;         // holds a card from the last card list
    Boolean IsConnected = FALSE_B;  // set by the first indicator after a connect request
    Integer Number = 0;             // card number, from 1
    QString Name;
    QString Device;
    QString Serial;
    Boolean Access = FALSE_B;  // reachable remotely
    Boolean Ready = FALSE_B;   // status is "ready"
    QString Status;            // status word as sent
    Integer Connections = 0;
};

// The card's signal indicator.
struct IndicatorInfo {
    QString Status;
    Integer Level = 0;
    QString Bargraph;
};

// A by-reference method parameter that may also be left out.
//
// Bound to a variable of the caller (an lvalue of exactly type T), the method
// writes its normalised value back into that variable. Bound to anything else
// (a literal, a default argument, a value of another type), the method works
// on its own copy and nothing is written back. Not copyable: it lives only for
// the duration of one call.
template <class T>
class ByRef {
public:
    ByRef(T& variable) : ptr_(&variable) {}
    // The constraint keeps ByRef itself and plain T lvalues away from this
    // constructor. clang-tidy 14 does not read requires-clauses and
    // clang-format 14 does not lay them out, hence the markers.
    // clang-format off
    // NOLINTBEGIN(bugprone-forwarding-reference-overload)
    template <class U>
        requires(std::is_convertible_v<U&&, T> && !std::is_same_v<std::remove_cvref_t<U>, ByRef> &&
                 !(std::is_lvalue_reference_v<U> && std::is_same_v<std::remove_cvref_t<U>, T> &&
                   !std::is_const_v<std::remove_reference_t<U>>))
    ByRef(U&& value) : own_(std::forward<U>(value)), ptr_(&own_) {}
    // NOLINTEND(bugprone-forwarding-reference-overload)
    // clang-format on
    ByRef(const ByRef&) = delete;
    ByRef& operator=(const ByRef&) = delete;

    T& get() const { return *ptr_; }
    operator T&() const { return *ptr_; }
    ByRef& operator=(const T& value)
    {
        *ptr_ = value;
        return *this;
    }

private:
    T own_{};
    T* ptr_;
};

}  // namespace quesmer
