// Plain text of an HTML help page, for terminals without a text browser.
#pragma once

#include <string>

// The readable text of |html|: tags removed, the contents of <script> and
// <style> left out (the <title> text becomes the first line), block
// tags (p, br, div, h1-h6, li, tr, pre, hr) giving line breaks, runs of
// white space outside <pre> reduced to one blank, text inside <pre> kept as
// written, the entities &amp; &lt; &gt; &quot; &apos; &nbsp; and numeric
// ones (&#233; &#xE9;) decoded to UTF-8. An unknown entity stays as written;
// an unclosed tag ends the text. Never fails.
std::string HtmlToText(const std::string& html);
