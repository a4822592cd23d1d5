#include "platform/posix/fail.h"
#include "platform/posix/serial/termios_dcb.h"

#include <sys/ioctl.h>

#include <cerrno>

#include "platform/posix/errors.h"

// The kernel's record for line speeds without a B constant (TCGETS2/TCSETS2).
struct termios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};

namespace {

constexpr speed_t kOtherSpeed = 0010000;  // BOTHER: the speed is in c_ospeed
constexpr int kInputSpeedShift = 16;      // IBSHIFT: where the input speed code sits

speed_t SpeedCode(DWORD speed) {
  static const struct {
    DWORD rate;
    speed_t code;
  } codes[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
               {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
               {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
               {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
               {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
  for (const auto& c : codes)
    if (c.rate == speed) return c.code;
  return 0;
}

}  // namespace

bool TerminalSettingsFromDcb(const DCB& dcb, TerminalSettings& settings) {
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
      (dcb.StopBits != ONESTOPBIT && dcb.StopBits != TWOSTOPBITS) || dcb.BaudRate == 0)
    return FailWith(ERROR_INVALID_PARAMETER);
  termios& t = settings.attributes;
  // Raw bytes both ways; the receiver on; the modem-control lines stay as
  // they are when the device is closed.
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | HUPCL | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL;
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= sizes[dcb.ByteSize - 5];
  static const tcflag_t parities[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
  t.c_cflag |= parities[dcb.Parity];
  if (dcb.StopBits == TWOSTOPBITS) t.c_cflag |= CSTOPB;
  if (dcb.fParity && dcb.Parity != NOPARITY) t.c_iflag |= INPCK;
  if (dcb.fOutX) t.c_iflag |= IXON;
  if (dcb.fInX) t.c_iflag |= IXOFF;
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  settings.speed = dcb.BaudRate;
  return true;
}

bool ApplyTerminalSettings(int fd, const TerminalSettings& settings) {
  termios t = settings.attributes;
  const speed_t code = SpeedCode(settings.speed);
  cfsetispeed(&t, code ? code : B38400);
  cfsetospeed(&t, code ? code : B38400);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return FailWithErrno(errno);
  if (code) return TRUE;
  termios2 t2{};
  if (::ioctl(fd, TCGETS2, &t2) != 0) return FailWithErrno(errno);
  t2.c_cflag = (t2.c_cflag & ~CBAUD & ~(CBAUD << kInputSpeedShift)) | kOtherSpeed | (kOtherSpeed << kInputSpeedShift);
  t2.c_ispeed = t2.c_ospeed = settings.speed;
  if (::ioctl(fd, TCSETS2, &t2) != 0) return FailWithErrno(errno);
  return TRUE;
}

DCB DcbFromTerminal(int fd, const termios& t) {
  DCB dcb{};
  termios2 t2{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = ::ioctl(fd, TCGETS2, &t2) == 0 ? t2.c_ospeed : 9600;
  dcb.fBinary = 1;
  dcb.fParity = (t.c_iflag & INPCK) != 0;
  dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = dcb.fOutxCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  // A terminal's cooked defaults include XON/XOFF; a serial port starts
  // without it, or binary data holding those bytes would be eaten.
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  switch (t.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8;
  }
  if (!(t.c_cflag & PARENB))
    dcb.Parity = NOPARITY;
  else if (t.c_cflag & CMSPAR)
    dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  else
    dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  dcb.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  return dcb;
}
