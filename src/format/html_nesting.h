// A bound on how deeply an HTML document nests its elements before it reaches the parser.
//
// An HTML5 tree builder checks "element in scope" by walking its stack of open elements, so a
// document of nested elements costs time quadratic in its depth: ten megabytes of "<div>" would
// take hours. Browsers bound the depth of the tree for the same reason.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace format {

// Deeper than any real document; shallow enough that a hostile one parses in seconds.
inline constexpr size_t kMaxHtmlNesting = 256;

// Follows the document's start and end tags with a simplified model of the HTML tree builder
// (implied end tags, scopes, tables, foreign content, raw text) and takes out every start tag that
// would open an element deeper than `max_depth`; a block-level one is replaced by a blank so that
// words stay apart, and the text itself is kept. Where the model is unsure it assumes the deeper
// tree, so the parser never sees much more than `max_depth` levels. Returns the shortened
// document, or nothing when no tag had to go.
std::optional<std::string> LimitHtmlNesting(std::string_view html,
                                            size_t max_depth = kMaxHtmlNesting);

}  // namespace format
