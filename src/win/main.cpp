#include <windows.h>

// Placeholder until the dialog lands: shows template 102.
int main() {
    return static_cast<int>(
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(102), nullptr, nullptr, 0));
}
