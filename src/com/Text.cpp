#include "com/Text.h"

#include <climits>
#include <new>

namespace pvt {

BSTR AllocBstrFromNarrow(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) throw std::bad_alloc();
    const int narrowLength = static_cast<int>(text.size());
    int wideLength = 0;
    if (narrowLength > 0) {
        wideLength = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), narrowLength, nullptr, 0);
    }
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(wideLength));
    if (result == nullptr) throw std::bad_alloc();
    if (wideLength > 0) {
        MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), narrowLength, result, wideLength);
    }
    result[wideLength] = L'\0';
    return result;
}

std::string NarrowFromWide(const wchar_t* text, std::size_t length) {
    if (text == nullptr || length == 0 || length > static_cast<std::size_t>(INT_MAX)) {
        return std::string();
    }
    const int wideLength = static_cast<int>(length);
    const int narrowLength =
        WideCharToMultiByte(CP_THREAD_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (narrowLength <= 0) return std::string();
    std::string result(static_cast<std::size_t>(narrowLength), '\0');
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, text, wideLength, &result[0], narrowLength, nullptr,
                            nullptr) != narrowLength) {
        return std::string();
    }
    return result;
}

}  // namespace pvt
