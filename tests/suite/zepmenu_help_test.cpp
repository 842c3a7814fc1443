// The help launcher's plain text of an HTML page, for terminals without a
// text browser.
#include <gtest/gtest.h>

#include <string>

#include "suite/brovex/htmltext.h"

namespace {

TEST(HelpPageText, TagsEntitiesAndWhiteSpace) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"plain", "plain\n"},
      {"<p>one</p><p>two</p>", "one\ntwo\n"},
      {"a<br>b<br/>c", "a\nb\nc\n"},
      {"<b>bold</b> and <i>italic</i>", "bold and italic\n"},
      {"many   blanks\n\tand\r\nlines", "many blanks and lines\n"},
      {"<pre>\n  kept   as\n  written</pre>after", "  kept   as\n  written\nafter\n"},
      {"<pre>\r\nline</pre>", "line\n"},
      {"&lt;tag&gt; &amp; &quot;q&quot; &apos;a&apos;", "<tag> & \"q\" 'a'\n"},
      {"caf&#233; &#xE0; &#x20AC;", "caf\xc3\xa9 \xc3\xa0 \xe2\x82\xac\n"},
      {"&#0; &#xD800;", "\xef\xbf\xbd \xef\xbf\xbd\n"},
      {"a&#27;[2Jb&#x7;c&#x9B;d&#10;e&#127;f", "a [2Jb c d e f\n"},
      {"&unknown; & alone &#12x;", "&unknown; & alone &#12x;\n"},
      {"<head><title>Title</title><style>p{color:red}</style></head><body>Body</body>",
       "Title\nBody\n"},
      {"<script>if (a < b) x();</script>shown", "shown\n"},
      {"<h1>Head</h1>text<ul><li>one<li>two</ul>", "Head\ntext\none\ntwo\n"},
      {"text <unclosed", "text\n"},
      {"<P>Upper</P><BR>case", "Upper\ncase\n"},
  };
  for (const auto& [html, text] : cases) {
    EXPECT_EQ(HtmlToText(html), text) << html;
  }
}

}  // namespace
