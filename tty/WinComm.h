#pragma once
// The records and constants of the Windows communications API that the port engine is written
// against, with their Windows names, sizes and values. TSerialDevice implements the operations
// over POSIX; these are only the shapes that cross that line.
#include <cstdint>

// Line settings. The flag bits sit in one 32-bit word in this order (fBinary is bit 0); the
// record is 28 bytes long, which is what DCBlength holds.
struct DCB {
  uint32_t DCBlength = 0;
  uint32_t BaudRate = 0;
  uint32_t fBinary : 1 = 0;
  uint32_t fParity : 1 = 0;
  uint32_t fOutxCtsFlow : 1 = 0;
  uint32_t fOutxDsrFlow : 1 = 0;
  uint32_t fDtrControl : 2 = 0;
  uint32_t fDsrSensitivity : 1 = 0;
  uint32_t fTXContinueOnXoff : 1 = 0;
  uint32_t fOutX : 1 = 0;
  uint32_t fInX : 1 = 0;
  uint32_t fErrorChar : 1 = 0;
  uint32_t fNull : 1 = 0;
  uint32_t fRtsControl : 2 = 0;
  uint32_t fAbortOnError : 1 = 0;
  uint32_t fDummy2 : 17 = 0;
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28, "DCB must keep the Windows layout");

// The flag word of a DCB, composed from the fields so it does not depend on bit-field layout.
constexpr uint32_t DcbFlags(const DCB &dcb) {
  return uint32_t(dcb.fBinary) | uint32_t(dcb.fParity) << 1 | uint32_t(dcb.fOutxCtsFlow) << 2 |
         uint32_t(dcb.fOutxDsrFlow) << 3 | uint32_t(dcb.fDtrControl) << 4 | uint32_t(dcb.fDsrSensitivity) << 6 |
         uint32_t(dcb.fTXContinueOnXoff) << 7 | uint32_t(dcb.fOutX) << 8 | uint32_t(dcb.fInX) << 9 |
         uint32_t(dcb.fErrorChar) << 10 | uint32_t(dcb.fNull) << 11 | uint32_t(dcb.fRtsControl) << 12 |
         uint32_t(dcb.fAbortOnError) << 14;
}

// Milliseconds; MAXDWORD is a value with its own meaning in ReadIntervalTimeout.
struct COMMTIMEOUTS {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

struct COMSTAT {
  uint32_t fCtsHold : 1 = 0;
  uint32_t fDsrHold : 1 = 0;
  uint32_t fRlsdHold : 1 = 0;
  uint32_t fXoffHold : 1 = 0;
  uint32_t fXoffSent : 1 = 0;
  uint32_t fEof : 1 = 0;
  uint32_t fTxim : 1 = 0;
  uint32_t fReserved : 25 = 0;
  uint32_t cbInQue = 0;
  uint32_t cbOutQue = 0;
};

inline constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;
inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// Standard rates (bits per second).
inline constexpr uint32_t CBR_110 = 110;
inline constexpr uint32_t CBR_300 = 300;
inline constexpr uint32_t CBR_600 = 600;
inline constexpr uint32_t CBR_1200 = 1200;
inline constexpr uint32_t CBR_2400 = 2400;
inline constexpr uint32_t CBR_4800 = 4800;
inline constexpr uint32_t CBR_9600 = 9600;
inline constexpr uint32_t CBR_14400 = 14400;
inline constexpr uint32_t CBR_19200 = 19200;
inline constexpr uint32_t CBR_38400 = 38400;
inline constexpr uint32_t CBR_56000 = 56000;
inline constexpr uint32_t CBR_57600 = 57600;
inline constexpr uint32_t CBR_115200 = 115200;
inline constexpr uint32_t CBR_128000 = 128000;
inline constexpr uint32_t CBR_256000 = 256000;

// DCB.Parity
inline constexpr uint8_t NOPARITY = 0;
inline constexpr uint8_t ODDPARITY = 1;
inline constexpr uint8_t EVENPARITY = 2;
inline constexpr uint8_t MARKPARITY = 3;
inline constexpr uint8_t SPACEPARITY = 4;

// DCB.StopBits
inline constexpr uint8_t ONESTOPBIT = 0;
inline constexpr uint8_t ONE5STOPBITS = 1;
inline constexpr uint8_t TWOSTOPBITS = 2;

// DCB.fDtrControl
inline constexpr uint32_t DTR_CONTROL_DISABLE = 0;
inline constexpr uint32_t DTR_CONTROL_ENABLE = 1;
inline constexpr uint32_t DTR_CONTROL_HANDSHAKE = 2;

// DCB.fRtsControl
inline constexpr uint32_t RTS_CONTROL_DISABLE = 0;
inline constexpr uint32_t RTS_CONTROL_ENABLE = 1;
inline constexpr uint32_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr uint32_t RTS_CONTROL_TOGGLE = 3;

// Event mask bits (SetCommMask, WaitCommEvent).
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_PERR = 0x0200;
inline constexpr uint32_t EV_RX80FULL = 0x0400;
inline constexpr uint32_t EV_EVENT1 = 0x0800;
inline constexpr uint32_t EV_EVENT2 = 0x1000;

// Line-error bits (ClearCommError).
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;
inline constexpr uint32_t CE_TXFULL = 0x0100;
inline constexpr uint32_t CE_PTO = 0x0200;
inline constexpr uint32_t CE_IOE = 0x0400;
inline constexpr uint32_t CE_DNS = 0x0800;
inline constexpr uint32_t CE_OOP = 0x1000;
inline constexpr uint32_t CE_MODE = 0x8000;

// Modem-line bits (GetCommModemStatus).
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

// PurgeComm flags.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// Windows error numbers the engine's own logic names. The device itself reports errno values.
inline constexpr int ERROR_SUCCESS = 0;
inline constexpr int ERROR_FILE_NOT_FOUND = 2;
inline constexpr int ERROR_ACCESS_DENIED = 5;
inline constexpr int ERROR_INVALID_HANDLE = 6;
inline constexpr int ERROR_INVALID_PARAMETER = 87;
inline constexpr int ERROR_OPERATION_ABORTED = 995;
inline constexpr int ERROR_IO_PENDING = 997;
