// Texts of the feedback UI from the branding library, with the product name put in.
#pragma once

#include <windows.h>

#include <string>

namespace ffui {

// The product name: "ProductName" of the branding library's version resource, else "Kestrix Desk".
const std::wstring& product_name();

// |text| with every "<<%PN%>>" replaced by |product|.
std::wstring with_product_name(std::wstring text, const std::wstring& product);

// Branding text |id| with the product name put in; empty when the branding library lacks it.
std::wstring ui_text(UINT id);

}  // namespace ffui
