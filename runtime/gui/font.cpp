#include "runtime/gui/internal/font.h"

namespace {

struct FontRecord {
    HFONT font; // live while not null
};

constexpr int32_t kFontGrowthStep = 16;

ObjectRegistry* font_registry = nullptr;
int screen_dpi_y = USER_DEFAULT_SCREEN_DPI;

void Font_Release(int64_t identity) {
    if (identity == ANY_NUMBER) {
        Objects_ReleaseAll(font_registry);
        return;
    }
    if (auto* record = static_cast<FontRecord*>(Objects_Get(font_registry, identity))) {
        DeleteObject(record->font);
        Objects_Remove(font_registry, identity);
    }
}

} // namespace

void Font_Init() {
    font_registry = Objects_NewRegistry(sizeof(FontRecord), kFontGrowthStep, Font_Release);
    // Without a display device context the usual 96 dots per inch are assumed.
    screen_dpi_y = USER_DEFAULT_SCREEN_DPI;
    if (HDC display = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr)) {
        screen_dpi_y = GetDeviceCaps(display, LOGPIXELSY);
        DeleteDC(display);
    }
}

void Font_End() {
    Objects_ReleaseAll(font_registry);
}

int Font_ScreenDpiY() {
    return screen_dpi_y;
}
