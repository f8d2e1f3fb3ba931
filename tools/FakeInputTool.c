// Injects pointer and keyboard input into KWin through its fake-input protocol, as a user would
// give it: the only way to reach a native Wayland client's window from outside. KWin grants the
// protocol only with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 in its environment.
//
// Reads one command a line on standard input and answers "ok" once KWin has handled it:
//   to:X,Y        pointer to X,Y on the screen     by:DX,DY   pointer moved by DX,DY
//   press:BUTTON  release:BUTTON  (Linux codes: 272 left, 273 right)
//   key:CODE      pressed and released (Linux codes: 1 Escape)
// The connection stays open between commands: KWin's seat has a pointer only while a fake-input
// client is connected, and a client that sees the pointer come and go loses the events between.
#include "fake-input-client-protocol.h"

#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

static struct org_kde_kwin_fake_input* input;

static void Announced(void* data, struct wl_registry* registry, uint32_t name,
                      const char* interface, uint32_t version) {
  (void)data;
  if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
    input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void Withdrawn(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener Listener = {Announced, Withdrawn};

int main(void) {
  struct wl_display* display = wl_display_connect(NULL);
  if (display == NULL) {
    fprintf(stderr, "no Wayland display\n");
    return 1;
  }
  wl_registry_add_listener(wl_display_get_registry(display), &Listener, NULL);
  wl_display_roundtrip(display);
  if (input == NULL) {
    fprintf(stderr, "the compositor offers no org_kde_kwin_fake_input version 4\n");
    return 1;
  }
  org_kde_kwin_fake_input_authenticate(input, "ornavel-fake-input", "Tests Ornavel's window");
  char line[256];
  while (fgets(line, sizeof line, stdin) != NULL) {
    double x, y;
    unsigned code;
    if (sscanf(line, "to:%lf,%lf", &x, &y) == 2)
      org_kde_kwin_fake_input_pointer_motion_absolute(input, wl_fixed_from_double(x),
                                                      wl_fixed_from_double(y));
    else if (sscanf(line, "by:%lf,%lf", &x, &y) == 2)
      org_kde_kwin_fake_input_pointer_motion(input, wl_fixed_from_double(x),
                                             wl_fixed_from_double(y));
    else if (sscanf(line, "press:%u", &code) == 1)
      org_kde_kwin_fake_input_button(input, code, WL_POINTER_BUTTON_STATE_PRESSED);
    else if (sscanf(line, "release:%u", &code) == 1)
      org_kde_kwin_fake_input_button(input, code, WL_POINTER_BUTTON_STATE_RELEASED);
    else if (sscanf(line, "key:%u", &code) == 1) {
      org_kde_kwin_fake_input_keyboard_key(input, code, WL_KEYBOARD_KEY_STATE_PRESSED);
      org_kde_kwin_fake_input_keyboard_key(input, code, WL_KEYBOARD_KEY_STATE_RELEASED);
    } else {
      fprintf(stderr, "unknown command %s", line);
      return 2;
    }
    if (wl_display_roundtrip(display) < 0) {
      fprintf(stderr, "the compositor closed the connection\n");
      return 1;
    }
    printf("ok\n");
    fflush(stdout);
  }
  wl_display_disconnect(display);
  return 0;
}
