// Text handling: narrow text (the thread's ANSI code page) to BSTRs and
// back, and wide literals laid out as BSTRs.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace pvt {

// Owns one BSTR and frees it with SysFreeString.
class BstrHolder {
public:
    BstrHolder() = default;
    explicit BstrHolder(BSTR text) : text_(text) {}
    ~BstrHolder() { SysFreeString(text_); }
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;

    BSTR Get() const { return text_; }
    // The text, empty when there is none.
    std::wstring Text() const {
        return text_ ? std::wstring(text_, SysStringLen(text_)) : std::wstring();
    }
    BSTR* Receive() {
        SysFreeString(text_);
        text_ = nullptr;
        return &text_;
    }
    BSTR Detach() {
        BSTR t = text_;
        text_ = nullptr;
        return t;
    }

private:
    BSTR text_ = nullptr;
};

// Where a failed call may have left something in a ComPtr's out location:
// lets go of it without releasing it, and passes the result on.
template <class T>
HRESULT Received(HRESULT hr, Microsoft::WRL::ComPtr<T>& pointer) {
    if (FAILED(hr)) pointer.Detach();
    return hr;
}

inline HRESULT Received(HRESULT hr, BstrHolder& text) {
    if (FAILED(hr)) text.Detach();
    return hr;
}

// Widens narrow text with the calling thread's ANSI code page into a new
// BSTR of exactly the converted length; empty text gives an empty, non-null
// BSTR. Throws std::bad_alloc when the BSTR cannot be allocated.
BSTR AllocBstrFromNarrow(std::string_view text);

// Narrows wide text with the calling thread's ANSI code page; a failed
// conversion gives empty text. Throws std::bad_alloc from the string.
std::string NarrowFromWide(const wchar_t* text, std::size_t length);

// A wide string literal stored as a BSTR would be: the byte length in the
// four bytes before the characters, then the characters and a terminator.
// Handing out text() gives a plain NUL-terminated string to a reader that
// expects one, and the right SysStringLen to a reader that expects a BSTR,
// without allocating anything.
template <std::size_t N>
struct StaticBstr {
    std::uint32_t byteLength;
    wchar_t characters[N];

    const wchar_t* text() const { return characters; }
};

template <std::size_t N>
constexpr StaticBstr<N> MakeStaticBstr(const wchar_t (&literal)[N]) {
    StaticBstr<N> result{static_cast<std::uint32_t>((N - 1) * sizeof(wchar_t)), {}};
    for (std::size_t i = 0; i < N; ++i) result.characters[i] = literal[i];
    return result;
}

}  // namespace pvt
