#pragma once
// Flattens element nesting beyond a limit before the HTML5 parser sees the
// text. The tree builder checks element scope by walking the stack of open
// elements, so its time grows with nesting depth times tag count: a page of
// nested <div>s costs minutes. Browsers cap the depth for the same reason
// and hang deeper elements on the deepest allowed ancestor; dropping the
// start and end tags of elements that would open deeper than the limit
// gives the same tree.
//
// The scan is a small tokenizer (tags, comments, quoted attribute values,
// raw-text elements) with one pass and a bounded stack. It counts only
// elements that nest without closing themselves; elements the tree builder
// closes implicitly (p, li, td, option ...) and void elements are not
// counted, so ordinary pages are never changed.
#include <cstddef>
#include <string>
#include <string_view>

namespace html {

struct NestingLimitResult {
    std::string text;          // the text to parse (unchanged when nothing was dropped)
    std::size_t droppedTags = 0; // start and end tags removed
};

NestingLimitResult LimitNesting(std::string_view html, std::size_t maxDepth);

} // namespace html
