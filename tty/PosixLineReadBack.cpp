// The line settings as the driver holds them, speeds included whatever they are (termios2). The
// kernel's termios headers clash with glibc's <termios.h>, so this file includes only the kernel's.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

int ReadTermios2(int fd, uint32_t &cflag, uint32_t &iflag, uint32_t &inBaud, uint32_t &outBaud);

int ReadTermios2(int fd, uint32_t &cflag, uint32_t &iflag, uint32_t &inBaud, uint32_t &outBaud) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0)
    return errno;
  cflag = t.c_cflag;
  iflag = t.c_iflag;
  inBaud = t.c_ispeed;
  outBaud = t.c_ospeed;
  return 0;
}
