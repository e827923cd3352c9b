// Reports the desktop settings as a program started now sees them, one
// "name=value" line each. Wine keeps system parameters per process once read,
// so a test reads what another process changed through a fresh process.
#include <windows.h>

#include <cstdio>

int wmain() {
  wchar_t wallpaper[MAX_PATH + 1] = {};
  SystemParametersInfoW(SPI_GETDESKWALLPAPER, MAX_PATH, wallpaper, 0);
  UINT screenSaver = 0;
  SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &screenSaver, 0);
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  char utf8[4 * MAX_PATH] = {};
  WideCharToMultiByte(CP_UTF8, 0, wallpaper, -1, utf8, sizeof(utf8), nullptr, nullptr);
  printf("wallpaper=%s\n", utf8);
  printf("desktopcolor=0x%06lX\n", static_cast<unsigned long>(GetSysColor(COLOR_DESKTOP)));
  printf("screensavetimeout=%u\n", screenSaver);
  printf("borderwidth=%d\n", metrics.iBorderWidth);
  printf("paddedborderwidth=%d\n", metrics.iPaddedBorderWidth);
  return 0;
}
