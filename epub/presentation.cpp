#include "epub/presentation.h"

#include <cstdlib>

#include "site/site_names.h"

namespace vexmor::epub {

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

const char* Value(const PageNode& element, const char* name) { return AttributeOf(element, name); }

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A small number of pixels, or -1.
int Pixels(const char* value) {
    if (value == nullptr) return -1;
    const std::string_view text = Trimmed(value);
    if (text.empty() || text.size() > 4) return -1;
    int number = 0;
    for (const char c : text) {
        if (!IsDigit(c)) return -1;
        number = number * 10 + (c - '0');
    }
    return number;
}

std::string TextAlign(std::string_view value) {
    const std::string folded = site::FoldCase(Trimmed(value));
    if (folded == "left" || folded == "right" || folded == "center" || folded == "justify")
        return "text-align:" + folded + ";";
    if (folded == "middle") return "text-align:center;";
    return {};
}

std::string VerticalAlign(std::string_view value) {
    const std::string folded = site::FoldCase(Trimmed(value));
    if (folded == "top" || folded == "bottom" || folded == "middle" || folded == "baseline")
        return "vertical-align:" + folded + ";";
    if (folded == "texttop") return "vertical-align:text-top;";
    if (folded == "absmiddle" || folded == "center") return "vertical-align:middle;";
    if (folded == "absbottom") return "vertical-align:bottom;";
    return {};
}

// align on an image, object or table: left and right float.
std::string FloatAlign(std::string_view value, bool table) {
    const std::string folded = site::FoldCase(Trimmed(value));
    if (folded == "left" || folded == "right") return "float:" + folded + ";";
    if (table && folded == "center") return "margin-left:auto;margin-right:auto;";
    return table ? std::string() : VerticalAlign(value);
}

std::string FontSize(std::string_view value) {
    std::string_view text = Trimmed(value);
    int base = 0;
    int sign = 0;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        sign = text.front() == '+' ? 1 : -1;
        text.remove_prefix(1);
        base = 3;
    }
    if (text.size() != 1 || !IsDigit(text[0])) return {};
    int size = sign == 0 ? text[0] - '0' : base + sign * (text[0] - '0');
    if (size < 1) size = 1;
    if (size > 7) size = 7;
    static constexpr const char* kSizes[] = {"x-small", "small", "medium", "large", "x-large", "xx-large", "3em"};
    return std::string("font-size:") + kSizes[size - 1] + ";";
}

// A font face list, each family quoted.
std::string FontFamily(std::string_view value) {
    std::string out;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(',', start);
        if (end == std::string_view::npos) end = value.size();
        const std::string_view family = Trimmed(value.substr(start, end - start));
        bool plain = !family.empty();
        for (const char c : family)
            if (c == '"' || c == '\'' || c == '\\' || c == ';' || c == '{' || c == '}' || static_cast<unsigned char>(c) < 0x20)
                plain = false;
        if (plain) out += (out.empty() ? "" : ",") + std::string("'") + std::string(family) + "'";
        start = end + 1;
    }
    return out.empty() ? std::string() : "font-family:" + out + ";";
}

std::string ListStyle(std::string_view value) {
    const std::string_view text = Trimmed(value);
    if (text == "1") return "list-style-type:decimal;";
    if (text == "a") return "list-style-type:lower-alpha;";
    if (text == "A") return "list-style-type:upper-alpha;";
    if (text == "i") return "list-style-type:lower-roman;";
    if (text == "I") return "list-style-type:upper-roman;";
    const std::string folded = site::FoldCase(text);
    if (folded == "disc" || folded == "circle" || folded == "square") return "list-style-type:" + folded + ";";
    return {};
}

bool IsTextAlignElement(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_P: case GUMBO_TAG_DIV: case GUMBO_TAG_H1: case GUMBO_TAG_H2: case GUMBO_TAG_H3:
        case GUMBO_TAG_H4: case GUMBO_TAG_H5: case GUMBO_TAG_H6: case GUMBO_TAG_TD: case GUMBO_TAG_TH:
        case GUMBO_TAG_TR: case GUMBO_TAG_THEAD: case GUMBO_TAG_TBODY: case GUMBO_TAG_TFOOT: case GUMBO_TAG_COL:
        case GUMBO_TAG_COLGROUP: case GUMBO_TAG_LEGEND: case GUMBO_TAG_CENTER: case GUMBO_TAG_SPAN:
            return true;
        default: return false;
    }
}

bool KeepsSizeAttributes(GumboTag tag) {
    return tag == GUMBO_TAG_IMG || tag == GUMBO_TAG_VIDEO || tag == GUMBO_TAG_CANVAS || tag == GUMBO_TAG_IFRAME ||
           tag == GUMBO_TAG_EMBED || tag == GUMBO_TAG_OBJECT;
}

}  // namespace

bool IsNonNegativeInteger(std::string_view value) {
    if (value.empty() || value.size() > 9) return false;
    for (const char c : value)
        if (!IsDigit(c)) return false;
    return true;
}

std::string CssColour(std::string_view value) {
    std::string_view text = Trimmed(value);
    if (text.starts_with('#')) text.remove_prefix(1);
    bool hex = text.size() == 3 || text.size() == 6;
    for (const char c : text) hex = hex && IsHex(c);
    if (hex) return "#" + std::string(text);
    if (text.empty() || text.size() > 20 || Trimmed(value).starts_with('#')) return {};
    for (const char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return {};
    return site::FoldCase(text);
}

std::string CssLength(std::string_view value) {
    std::string_view text = Trimmed(value);
    std::string unit = "px";
    if (text.ends_with('%')) {
        unit = "%";
        text.remove_suffix(1);
    } else if (text.size() > 2 && site::FoldCase(text.substr(text.size() - 2)) == "px") {
        text.remove_suffix(2);
    }
    if (text.empty() || text.size() > 9) return {};
    bool dot = false;
    for (const char c : text) {
        if (c == '.' && !dot) dot = true;
        else if (!IsDigit(c)) return {};
    }
    if (text.front() == '.' || text.back() == '.') return {};
    return std::string(text) + unit;
}

std::string PresentationCss(const PageNode& element, const std::string& background) {
    const GumboTag tag = TagOf(element);
    std::string css;
    if (const char* align = Value(element, "align")) {
        if (tag == GUMBO_TAG_IMG || tag == GUMBO_TAG_OBJECT || tag == GUMBO_TAG_APPLET || tag == GUMBO_TAG_IFRAME ||
            tag == GUMBO_TAG_EMBED)
            css += FloatAlign(align, false);
        else if (tag == GUMBO_TAG_TABLE)
            css += FloatAlign(align, true);
        else if (tag == GUMBO_TAG_CAPTION) {
            const std::string folded = site::FoldCase(Trimmed(align));
            css += folded == "bottom" ? "caption-side:bottom;" : TextAlign(align);
        } else if (tag == GUMBO_TAG_HR) {
            const std::string folded = site::FoldCase(Trimmed(align));
            if (folded == "left") css += "margin-left:0;margin-right:auto;";
            else if (folded == "right") css += "margin-left:auto;margin-right:0;";
        } else if (IsTextAlignElement(tag))
            css += TextAlign(align);
    }
    if (const char* valign = Value(element, "valign")) css += VerticalAlign(valign);
    if (const char* colour = Value(element, "bgcolor"); colour && !CssColour(colour).empty())
        css += "background-color:" + CssColour(colour) + ";";
    if (!background.empty()) css += "background-image:url(\"" + background + "\");";
    if (!KeepsSizeAttributes(tag) || !IsNonNegativeInteger(Trimmed(Value(element, "width") ? Value(element, "width") : "")))
        if (const char* width = Value(element, "width"); width && !CssLength(width).empty())
            css += "width:" + CssLength(width) + ";";
    if (!KeepsSizeAttributes(tag) || !IsNonNegativeInteger(Trimmed(Value(element, "height") ? Value(element, "height") : "")))
        if (const char* height = Value(element, "height"); height && !CssLength(height).empty())
            css += "height:" + CssLength(height) + ";";
    if (Value(element, "nowrap") != nullptr && (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH)) css += "white-space:nowrap;";
    switch (tag) {
        case GUMBO_TAG_TABLE: {
            const TableLook look = TableLookOf(element);
            if (look.border > 0) css += "border:" + std::to_string(look.border) + "px outset gray;";
            const int spacing = Pixels(Value(element, "cellspacing"));
            if (spacing >= 0) css += "border-collapse:separate;border-spacing:" + std::to_string(spacing) + "px;";
            break;
        }
        case GUMBO_TAG_IMG: {
            const int border = Pixels(Value(element, "border"));
            if (border > 0) css += "border:" + std::to_string(border) + "px solid;";
            const int hspace = Pixels(Value(element, "hspace"));
            if (hspace > 0) css += "margin-left:" + std::to_string(hspace) + "px;margin-right:" + std::to_string(hspace) + "px;";
            const int vspace = Pixels(Value(element, "vspace"));
            if (vspace > 0) css += "margin-top:" + std::to_string(vspace) + "px;margin-bottom:" + std::to_string(vspace) + "px;";
            break;
        }
        case GUMBO_TAG_BODY: {
            if (const char* text = Value(element, "text"); text && !CssColour(text).empty())
                css += "color:" + CssColour(text) + ";";
            for (const auto& [attribute, property] :
                 {std::pair{"topmargin", "margin-top"}, std::pair{"bottommargin", "margin-bottom"},
                  std::pair{"leftmargin", "margin-left"}, std::pair{"rightmargin", "margin-right"},
                  std::pair{"marginheight", "margin-top"}, std::pair{"marginwidth", "margin-left"}}) {
                const int pixels = Pixels(Value(element, attribute));
                if (pixels >= 0) css += std::string(property) + ":" + std::to_string(pixels) + "px;";
            }
            break;
        }
        case GUMBO_TAG_HR: {
            const int size = Pixels(Value(element, "size"));
            if (size > 0) css += "height:" + std::to_string(size) + "px;";
            if (const char* colour = Value(element, "color"); colour && !CssColour(colour).empty())
                css += "color:" + CssColour(colour) + ";background-color:" + CssColour(colour) + ";";
            if (Value(element, "noshade") != nullptr) css += "border-style:solid;";
            break;
        }
        case GUMBO_TAG_UL:
        case GUMBO_TAG_LI:
        case GUMBO_TAG_DIR:
        case GUMBO_TAG_MENU:
            if (const char* type = Value(element, "type")) css += ListStyle(type);
            break;
        case GUMBO_TAG_BR:
            if (const char* clear = Value(element, "clear")) {
                const std::string folded = site::FoldCase(Trimmed(clear));
                if (folded == "left" || folded == "right") css += "clear:" + folded + ";";
                else if (folded == "all" || folded == "both") css += "clear:both;";
            }
            break;
        default: break;
    }
    return css;
}

std::string ElementCss(const PageNode& element) {
    switch (TagOf(element)) {
        case GUMBO_TAG_FONT: {
            std::string css;
            if (const char* colour = Value(element, "color"); colour && !CssColour(colour).empty())
                css += "color:" + CssColour(colour) + ";";
            if (const char* size = Value(element, "size")) css += FontSize(size);
            if (const char* face = Value(element, "face")) css += FontFamily(face);
            return css;
        }
        case GUMBO_TAG_BASEFONT: return {};
        case GUMBO_TAG_CENTER: return "text-align:center;";
        case GUMBO_TAG_BIG: return "font-size:larger;";
        case GUMBO_TAG_TT: return "font-family:monospace;";
        case GUMBO_TAG_NOBR: return "white-space:nowrap;";
        case GUMBO_TAG_STRIKE: return "text-decoration:line-through;";
        case GUMBO_TAG_BLINK: return {};
        default: return {};
    }
}

TableLook TableLookOf(const PageNode& table) {
    TableLook look;
    if (const char* border = Value(table, "border")) {
        const int pixels = Pixels(border);
        // A border attribute without a number draws one, as browsers do.
        look.border = pixels >= 0 ? pixels : (Trimmed(border).empty() ? 1 : 0);
    }
    look.cellPadding = Pixels(Value(table, "cellpadding"));
    return look;
}

std::string CellCss(const TableLook& look) {
    std::string css;
    if (look.border > 0) css += "border:1px inset gray;";
    if (look.cellPadding >= 0) css += "padding:" + std::to_string(look.cellPadding) + "px;";
    return css;
}

}  // namespace vexmor::epub
