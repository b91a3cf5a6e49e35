// The texts of the wizard's dialog templates, for front ends that show the
// pages without the templates (the terminal wizard). dialog_texts.inc is
// written from QelScript.rc by gen_resources.py.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace qel {

// The text of a page's control in `language` (1033, 2052 or 1028; other ids
// as TableLanguage resolves them), found by its English text: the text at
// the same place in that language's template of the page. UTF-8. The
// English text itself when the template has no such text.
std::string PageTextUtf8(WORD language, UINT dialogId, const char* english);

// A control text as a line shows it: without its mnemonic ("&Add" -> "Add",
// "添加(&A)" -> "添加") and without the blanks it starts with.
std::string PlainPageText(const std::string& text);

}  // namespace qel
