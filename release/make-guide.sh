#!/usr/bin/env bash
# Writes Guide.html, the user's guide with pictures of the tool, from the
# guide's words in README.txt and the outline that places the pictures:
#
#   make-guide.sh <README.txt> <outline> <pictures folder> <Guide.html>
#
# README.txt is the one place for the words: the page takes every section
# and every message of it, in the outline's order, and adds only the
# pictures, what each one shows (for a reader who cannot see it) and the
# outline's headings. It refuses an outline that leaves out a section of
# README.txt, names one it does not have, or pictures a message it does not
# hold, so that the two guides cannot drift apart. The page is plain HTML:
# no scripts, nothing fetched, pictures beside it in guide-pictures/.
set -euo pipefail
readme=$1 outline=$2 pictures=$3 out=$4

# Width and height of each picture the outline names, from the PNG header,
# so that the page keeps its layout while the pictures load.
sizes=$(mktemp)
trap 'rm -f "$sizes" "$out.new"' EXIT
for name in $(awk -F'|' '!/^#/ && NF == 3 { print $1 }' "$outline"); do
    file="$pictures/$name"
    if [ "$(head -c 8 "$file" 2>/dev/null | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
        echo "make-guide: $file is not a PNG picture" >&2
        exit 1
    fi
    printf '%s %s\n' "$name" "$(od -An -tu1 -j16 -N8 "$file" |
        awk '{ print ($1 * 16777216 + $2 * 65536 + $3 * 256 + $4), ($5 * 16777216 + $6 * 65536 + $7 * 256 + $8) }')"
done >"$sizes"

awk '
function fail(why) { print "make-guide: " why > "/dev/stderr"; failed = 1; exit 1 }
function esc(s) { gsub(/&/, "\\&amp;", s); gsub(/</, "\\&lt;", s); gsub(/>/, "\\&gt;", s); return s }
function attr(s) { s = esc(s); gsub(/"/, "\\&quot;", s); return s }
function trim(s) { sub(/^ +/, "", s); sub(/ +$/, "", s); return s }
function underline(s, c) { return s != "" && s ~ ("^" c "+$") }

# --- the sizes, then the outline ---
FILENAME == ARGV[1] { width[$1] = $2; height[$1] = $3; next }
FILENAME == ARGV[2] {
    if ($0 ~ /^#/ || $0 ~ /^ *$/) next
    n++
    if ($0 ~ /^== /) { kind[n] = "part"; text[n] = substr($0, 4) }
    else if ($0 ~ /^readme /) { kind[n] = "readme"; text[n] = substr($0, 8) }
    else {
        fields = split($0, f, /[|]/)
        if (fields != 3) fail("outline line " FNR ": expected <picture> | <message> | <what it shows>")
        kind[n] = "picture"; picture[n] = trim(f[1]); key[n] = trim(f[2]); alt[n] = trim(f[3])
        if (alt[n] == "") fail("outline line " FNR ": " picture[n] " does not say what it shows")
        if (key[n] != "") { keyed = n; keys++ } else if (!keyed) fail("outline line " FNR ": " picture[n] " belongs to no message")
        owner[n] = keyed
    }
    next
}
{ line[++lines] = $0 }

# --- README.txt ---
function add(s) { body[section] = body[section] s "\n" }
function paragraph(s) { if (s != "") add("<p>" esc(s) "</p>") }
# A block: lines up to a blank line or a heading.
function block(first, last,    i, s, t, item, open, tail) {
    if (line[first] ~ /^"/) { message(first, last); return }
    if (line[first] ~ /^- /) {
        add("<ul>")
        for (i = first; i <= last; i++) {
            t = line[i]
            if (t ~ /^- /) { if (item != "") add("<li>" esc(item) "</li>"); item = substr(t, 3) }
            else item = item " " trim(t)
        }
        add("<li>" esc(item) "</li>"); add("</ul>")
        return
    }
    if (line[first] ~ /^[0-9]+\. /) {
        add("<ol>")
        for (i = first; i <= last; i++) {
            t = line[i]
            if (t ~ /^[0-9]+\. /) { if (item != "") add("<li>" esc(item) "</li>"); item = t; sub(/^[0-9]+\. /, "", item) }
            else if (t ~ /^ /) item = item " " trim(t)
            else tail = tail (tail == "" ? "" : " ") t
        }
        add("<li>" esc(item) "</li>"); add("</ol>")
        paragraph(tail)
        return
    }
    if (line[first] ~ /^  /) {
        for (i = first; i <= last; i++) s = s esc(substr(line[i], 3)) "\n"
        add("<pre>" s "</pre>")
        return
    }
    for (i = first; i <= last; i++) s = s (i == first ? "" : " ") trim(line[i])
    paragraph(s)
}
# A message: its quoted first line, then what to do, indented.
function message(first, last,    i, s, k, found) {
    said[++messages] = line[first]
    for (i = first + 1; i <= last; i++) s = s (i == first + 1 ? "" : " ") trim(line[i])
    meaning[messages] = s
    for (k = 1; k <= n; k++) {
        if (kind[k] != "picture" || key[k] == "" || index(line[first], key[k]) != 1) continue
        if (shown[k]) fail("the outline'"'"'s " key[k] " names more than one message of README.txt")
        shown[k] = messages; found = k
    }
    add("<div class=\"message\"><p class=\"said\">" esc(line[first]) "</p>")
    add("<p>" esc(s) (found ? " <a href=\"#" anchor(found) "\">(Pictured above.)</a>" : "") "</p></div>")
}
function anchor(k,    a) { a = picture[k]; sub(/\.png$/, "", a); return "screen-" a }
function figure(k) {
    if (!(picture[k] in width)) fail("no size for " picture[k])
    return "<p class=\"picture\"><img src=\"guide-pictures/" attr(picture[k]) "\" width=\"" width[picture[k]] "\" height=\"" height[picture[k]] "\" alt=\"" attr(alt[k]) "\"></p>"
}

END {
    if (failed) exit 1
    title = line[1]
    section = 0
    for (i = 3; i <= lines; ) {
        if (underline(line[i + 1], "-")) { titles[++section] = line[i]; i += 2; continue }
        if (underline(line[i + 1], "~")) { add("<h3>" esc(line[i]) "</h3>"); i += 2; continue }
        if (line[i] ~ /^ *$/) { i++; continue }
        for (j = i; j < lines && line[j + 1] !~ /^ *$/ && !underline(line[j + 2], "-") && !underline(line[j + 2], "~"); j++) ;
        block(i, j)
        i = j + 1
    }
    sections = section
    for (k = 1; k <= n; k++)
        if (kind[k] == "picture" && key[k] != "" && !shown[k]) fail("README.txt has no message that starts with " key[k])

    print "<!DOCTYPE html>"
    print "<html lang=\"en\">"
    print "<head>"
    print "<meta charset=\"utf-8\">"
    print "<title>" esc(title) "</title>"
    print "<style>"
    print "body { font-family: Tahoma, Verdana, Arial, sans-serif; font-size: 100%; line-height: 1.45; color: #1a1a1a; max-width: 50em; margin: 1em auto; padding: 0 1em; }"
    print "h1 { font-size: 1.5em; } h2 { font-size: 1.25em; margin-top: 2em; border-bottom: 1px solid #999; } h3 { font-size: 1.05em; }"
    print ".screen { margin: 1.5em 0 2.5em; } .picture img { border: 1px solid #888; max-width: 100%; height: auto; }"
    print ".said { font-weight: bold; margin-bottom: 0.2em; } .message p { margin-top: 0.2em; } pre { margin-left: 1.5em; }"
    print "</style>"
    print "</head>"
    print "<body>"
    print "<h1>" esc(title) "</h1>"
    printf "%s", body[0]
    for (k = 1; k <= n; k++) {
        if (kind[k] == "part") print "<h2>" esc(text[k]) "</h2>"
        else if (kind[k] == "readme") {
            for (s = 1; s <= sections && titles[s] != text[k]; s++) ;
            if (s > sections) fail("README.txt has no section " text[k])
            if (used[s]++) fail("the outline takes the section " text[k] " twice")
            print "<h2>" esc(text[k]) "</h2>"
            printf "%s", body[s]
        } else if (key[k] != "") {
            m = shown[k]
            print "<div class=\"screen\" id=\"" anchor(k) "\">"
            print figure(k)
            print "<p class=\"said\">" esc(said[m]) "</p>"
            print "<p>" esc(meaning[m]) "</p>"
            for (g = k + 1; g <= n && kind[g] == "picture" && key[g] == ""; g++) print figure(g)
            print "</div>"
        }
    }
    for (s = 1; s <= sections; s++) if (!used[s]) fail("the outline leaves out the section " titles[s] " of README.txt")
    print "</body>"
    print "</html>"
}
' "$sizes" "$outline" "$readme" >"$out.new"
mv "$out.new" "$out"
