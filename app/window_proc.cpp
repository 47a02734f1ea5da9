#include "app/shell.h"

LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        ValidateRect(window, nullptr); // all drawing happens in the frame update
        return 0;
    case WM_MOUSEMOVE:
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
