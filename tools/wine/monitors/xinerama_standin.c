/* A stand-in for libXinerama.so.1 that Wine's X11 driver loads in place of the real one:
   it reports the monitors listed in VELTRANE_MONITORS ("WxH+X+Y,..." in X root coordinates,
   the first one primary) on one large Xvfb screen, so that tests see several monitors. Xvfb's
   own Xinerama places every screen at the origin. */
#include <stdio.h>
#include <stdlib.h>

typedef struct _XDisplay Display;
typedef struct {
    int screen_number;
    short x_org, y_org, width, height;
} XineramaScreenInfo;

enum { kMaxMonitors = 16 };

static int read_monitors(XineramaScreenInfo *out) {
    const char *s = getenv("VELTRANE_MONITORS");
    int n = 0;
    while (s && *s && n < kMaxMonitors) {
        int w, h, x, y, used = 0;
        if (sscanf(s, "%dx%d+%d+%d%n", &w, &h, &x, &y, &used) != 4 || used == 0) break;
        out[n] = (XineramaScreenInfo){n, (short)x, (short)y, (short)w, (short)h};
        ++n;
        s += used;
        if (*s == ',') ++s;
    }
    return n;
}

int XineramaQueryExtension(Display *display, int *event_base, int *error_base) {
    XineramaScreenInfo probe[kMaxMonitors];
    (void)display;
    *event_base = *error_base = 0;
    return read_monitors(probe) > 0;
}

int XineramaQueryVersion(Display *display, int *major, int *minor) {
    (void)display;
    *major = 1;
    *minor = 1;
    return 1;
}

int XineramaIsActive(Display *display) {
    XineramaScreenInfo probe[kMaxMonitors];
    (void)display;
    return read_monitors(probe) > 0;
}

/* The caller releases the list with XFree, which is free. */
XineramaScreenInfo *XineramaQueryScreens(Display *display, int *number) {
    XineramaScreenInfo *list = malloc(kMaxMonitors * sizeof *list);
    (void)display;
    *number = list ? read_monitors(list) : 0;
    if (*number == 0) {
        free(list);
        return NULL;
    }
    return list;
}
