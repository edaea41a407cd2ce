/* A laptop lid for a machine that has none: a uinput switch device with SW_LID, which
 * udev tags "power-switch", so that logind watches it as it watches a real lid.
 * Usage: fake-lid SCRIPT, read left to right: c closes the lid, o opens it, a digit waits
 * that many seconds; e.g. "2c5o2". */
#include <fcntl.h>
#include <linux/uinput.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int emit(int fd, int type, int code, int value) {
    struct input_event event = {.type = type, .code = code, .value = value};
    return write(fd, &event, sizeof event) == (ssize_t)sizeof event ? 0 : -1;
}

int main(int argc, char** argv) {
    const char* script = argc > 1 ? argv[1] : "2c5o2";
    int fd = open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    struct uinput_setup setup = {
        .id = {.bustype = BUS_VIRTUAL, .vendor = 0x1234, .product = 0x5678}};
    strcpy(setup.name, "Vesperon VM Lid Switch");
    if (fd < 0 || ioctl(fd, UI_SET_EVBIT, EV_SW) < 0 || ioctl(fd, UI_SET_SWBIT, SW_LID) < 0 ||
        ioctl(fd, UI_DEV_SETUP, &setup) < 0 || ioctl(fd, UI_DEV_CREATE) < 0) {
        perror("fake-lid: uinput");
        return 1;
    }
    for (; *script; script++) {
        if (*script == 'c' || *script == 'o') {
            if (emit(fd, EV_SW, SW_LID, *script == 'c') < 0 ||
                emit(fd, EV_SYN, SYN_REPORT, 0) < 0) {
                perror("fake-lid: write");
                return 1;
            }
            printf("fake-lid: %s\n", *script == 'c' ? "closed" : "opened");
            fflush(stdout);
        } else if (*script >= '0' && *script <= '9') {
            sleep((unsigned)(*script - '0'));
        }
    }
    ioctl(fd, UI_DEV_DESTROY);
    return 0;
}
