// Arbitrary line speeds through termios2 with BOTHER. The kernel's termios headers clash with
// glibc's <termios.h>, so this file includes only the kernel's.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

int SetCustomLineSpeed(int fd, uint32_t baud);
int GetLineSpeed(int fd, uint32_t &inputBaud, uint32_t &outputBaud);

int SetCustomLineSpeed(int fd, uint32_t baud) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0)
    return errno;
  // CIBAUD cleared: the input runs at the output speed.
  t.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER;
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  if (ioctl(fd, TCSETS2, &t) != 0)
    return errno;
  return 0;
}

int GetLineSpeed(int fd, uint32_t &inputBaud, uint32_t &outputBaud) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0)
    return errno;
  inputBaud = t.c_ispeed;
  outputBaud = t.c_ospeed;
  return 0;
}
