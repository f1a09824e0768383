# README.txt of the Windows zip, as plain text with CR LF line ends, from the
# Windows text in Markdown (packaging/windows/README.txt.md) and the sections
# of README.md that it inserts (see that file). Any awk:
#
#   awk -v version=1.0 -v out=README.txt -f readme_text.awk README.md README.txt.md linux_words.txt
#
# Plain text: headings underlined, paragraphs and list items filled to 78
# columns, code blocks indented, each table row a block of "Column: text"
# lines; bold, italics and the backquotes of code dropped; a link to a
# section of the text becomes its title in quotes. A link to anything else,
# a picture, a missing section, a replacement that finds nothing and a word
# of linux_words.txt in the text (what holds only on Linux) stop it with a
# message and no output. UTF-8 with a byte order mark, which Notepad takes as
# UTF-8 in every version.

BEGIN {
  width = 78
  failed = 0
  lines = 0      # the assembled Markdown
  replacements = 0
}

function fail(message) {
  print "readme_text.awk: " message > "/dev/stderr"
  failed = 1
  exit 1
}

# ---- reading: README.md's marked sections, then the Windows text -----------------

FNR == 1 { file++ }

file == 1 && /^[ \t]*<!-- README\.txt: begin [a-z0-9-]+ -->[ \t]*$/ {
  if (open != "") fail("README.md: section " open " not ended before another begins")
  open = $0
  sub(/^[ \t]*<!-- README\.txt: begin /, "", open)
  sub(/ -->[ \t]*$/, "", open)
  sectionLength[open] = 0
  next
}
file == 1 && /^[ \t]*<!-- README\.txt: end [a-z0-9-]+ -->[ \t]*$/ {
  name = $0
  sub(/^[ \t]*<!-- README\.txt: end /, "", name)
  sub(/ -->[ \t]*$/, "", name)
  if (name != open) fail("README.md: end of section " name " where " (open == "" ? "none" : open) " is open")
  open = ""
  next
}
file == 1 {
  if (open != "") section[open, ++sectionLength[open]] = $0
  next
}

file == 2 && /^<!-- insert: [a-z0-9-]+ -->$/ {
  name = $0
  sub(/^<!-- insert: /, "", name)
  sub(/ -->$/, "", name)
  if (!(name in sectionLength)) fail("README.md has no section " name)
  for (k = 1; k <= sectionLength[name]; k++) line[++lines] = section[name, k]
  next
}
file == 2 && /^<!-- replace: .* => .* -->$/ {
  text = $0
  sub(/^<!-- replace: /, "", text)
  sub(/ -->$/, "", text)
  at = index(text, " => ")
  replaced[++replacements] = substr(text, 1, at - 1)
  replacement[replacements] = substr(text, at + 4)
  used[replacements] = 0
  next
}
# A table row written for Windows: it takes the place of the inserted row of
# the same message (first cell), whose text holds only on Linux.
file == 2 && /^<!-- row for Windows -->$/ {
  rowForWindows = 1
  next
}
file == 2 && rowForWindows {
  rowForWindows = 0
  if ($0 !~ /^\|/) fail("README.txt.md: no table row after \"row for Windows\"")
  cells($0, windowsRow)
  for (k = lines; k >= 1; k--)
    if (line[k] ~ /^[ \t]*\|/ && cells(line[k], linuxRow) > 0 && linuxRow[1] == windowsRow[1]) break
  if (k < 1) fail("README.md has no row for " windowsRow[1])
  line[k] = $0
  next
}
file == 2 {
  gsub(/@VERSION@/, version)
  line[++lines] = $0
}

file == 3 && !/^#/ && !/^[ \t]*$/ { linuxWords[++linuxWordCount] = tolower($0) }

# ---- inline text ----------------------------------------------------------------

# The anchor GitHub gives a heading: lower case, blanks as hyphens, other
# punctuation gone.
function anchor(title,   a) {
  a = tolower(title)
  gsub(/[^a-z0-9 -]/, "", a)
  gsub(/ /, "-", a)
  return a
}

# Drops the emphasis marks of text outside code: **bold**, *italics*.
function plainEmphasis(text,   out) {
  gsub(/\*\*/, "", text)
  out = ""
  while (match(text, /\*[^* ][^*]*\*/)) {
    out = out substr(text, 1, RSTART - 1) substr(text, RSTART + 1, RLENGTH - 2)
    text = substr(text, RSTART + RLENGTH)
  }
  return out text
}

# Links and pictures of text outside code.
function plainLinks(text,   out, label, target, middle) {
  if (match(text, /!\[[^]]*\]\(/)) fail("a picture: " substr(text, RSTART, 60))
  out = ""
  while (match(text, /\[[^]]*\]\([^)]*\)/)) {
    label = substr(text, RSTART + 1, RLENGTH - 2)
    middle = index(label, "](")
    target = substr(label, middle + 2)
    label = substr(label, 1, middle - 1)
    if (target ~ /^#/) {
      if (!(substr(target, 2) in anchors)) fail("a link to a section the text does not have: " target)
      label = "\"" label "\""
    } else if (target ~ /^https?:/) {
      label = label " (" target ")"
    } else {
      fail("a link to a file the zip does not hold: " target)
    }
    out = out substr(text, 1, RSTART - 1) label
    text = substr(text, RSTART + RLENGTH)
  }
  return out text
}

# Stops at a word of linux_words.txt in `text`: a whole word in any case,
# not next to a letter, digit or underscore.
function refuseLinuxWords(text,   lower, k, word, from, at, before, after) {
  lower = tolower(text)
  for (k = 1; k <= linuxWordCount; k++) {
    word = linuxWords[k]
    for (from = 1; (at = index(substr(lower, from), word)) > 0; from = at + 1) {
      at += from - 1
      before = at > 1 ? substr(lower, at - 1, 1) : ""
      after = substr(lower, at + length(word), 1)
      if (before !~ /[a-z0-9_]/ && after !~ /[a-z0-9_]/)
        fail("a word that holds only on Linux, \"" linuxWords[k] "\", in: " text)
    }
  }
  return text
}

# The text of one paragraph, item or cell: the Windows replacements, then
# the marks dropped outside `code` (whose backquotes go too).
function inline(text,   k, at, out, code) {
  for (k = 1; k <= replacements; k++) {
    at = index(text, replaced[k])
    if (at > 0) {
      text = substr(text, 1, at - 1) replacement[k] substr(text, at + length(replaced[k]))
      used[k] = 1
    }
  }
  out = ""
  while ((at = index(text, "`")) > 0) {
    out = out plainLinks(plainEmphasis(substr(text, 1, at - 1)))
    text = substr(text, at + 1)
    at = index(text, "`")
    if (at == 0) fail("a backquote without its pair: " text)
    out = out substr(text, 1, at - 1)
    text = substr(text, at + 1)
  }
  return refuseLinuxWords(out plainLinks(plainEmphasis(text)))
}

# ---- writing ----------------------------------------------------------------------

function emit(text) { result[++results] = text }

# Separates a block from the one before by an empty line, except list items
# that follow each other.
function startBlock(isItem) {
  if (results > 0 && !(isItem && lastWasItem && !blankSince)) emit("")
  lastWasItem = isItem
  blankSince = 0
}

# Fills `text` to the width: the first line after `first`, the others after
# `rest` (blanks of the same width or more).
function fill(text, first, rest,   words, count, k, current) {
  count = split(text, words, / +/)
  current = first
  for (k = 1; k <= count; k++) {
    if (words[k] == "") continue
    if (current != first && current != rest && length(current) + 1 + length(words[k]) > width) {
      emit(current)
      current = rest
    }
    current = (current == first || current == rest) ? current words[k] : current " " words[k]
  }
  if (current != first && current != rest) emit(current)
}

function flushParagraph() {
  if (paragraph == "") return
  startBlock(paragraphIsItem)
  fill(inline(paragraph), paragraphFirst, paragraphRest)
  paragraph = ""
}

function underline(text, mark,   u) {
  u = text
  gsub(/./, mark, u)
  return u
}

function cells(row, into,   count, k) {
  sub(/^[ \t]*\|/, "", row)
  sub(/\|[ \t]*$/, "", row)
  count = split(row, into, /\|/)
  for (k = 1; k <= count; k++) {
    sub(/^[ \t]+/, "", into[k])
    sub(/[ \t]+$/, "", into[k])
  }
  return count
}

# A table: each row after the header as a block of "Column: text" lines.
function flushTable(   headers, columns, k, r, row, n) {
  if (tableRows == 0) return
  columns = cells(table[1], headers)
  for (r = 3; r <= tableRows; r++) {
    n = cells(table[r], row)
    startBlock(0)
    for (k = 1; k <= n && k <= columns; k++) {
      if (k == 1) fill(inline(headers[k]) ": " inline(row[k]), "", "    ")
      else fill(inline(headers[k]) ": " inline(row[k]), "    ", "      ")
    }
  }
  tableRows = 0
}

END {
  if (failed) exit 1
  if (open != "") fail("README.md: section " open " not ended")
  if (rowForWindows) fail("README.txt.md: no table row after \"row for Windows\"")
  if (linuxWordCount == 0) fail("no words that hold only on Linux: linux_words.txt is missing")
  for (k = 1; k <= lines; k++) {
    if (line[k] ~ /^#+ /) {
      title = line[k]
      sub(/^#+ /, "", title)
      anchors[anchor(title)] = 1
    }
  }

  results = 0
  paragraph = ""
  itemIndent = -1   # the text column of the list item being read, or -1
  inComment = 0
  inCode = 0
  for (k = 1; k <= lines; k++) {
    text = line[k]
    if (inComment) {
      if (text ~ /-->/) inComment = 0
      continue
    }
    if (inCode) {
      if (text ~ /^[ \t]*```/) { inCode = 0; continue }
      sub("^" codeStrip, "", text)
      emit(codeIndent refuseLinuxWords(text))
      continue
    }
    if (text ~ /^[ \t]*\|/) {
      flushParagraph()
      table[++tableRows] = text
      continue
    }
    flushTable()
    if (text ~ /^[ \t]*$/) {
      flushParagraph()
      blankSince = 1
      continue
    }
    if (text ~ /^[ \t]*<!--/) {
      flushParagraph()
      if (text !~ /-->/) inComment = 1
      continue
    }
    if (text ~ /^[ \t]*```/) {
      flushParagraph()
      match(text, /^[ \t]*/)
      codeStrip = substr(text, 1, RLENGTH)
      codeIndent = substr("                ", 1, (itemIndent > 0 && RLENGTH >= itemIndent ? itemIndent : 0) + 4)
      startBlock(0)
      inCode = 1
      continue
    }
    if (text ~ /^#+ /) {
      flushParagraph()
      itemIndent = -1
      level = index(text, " ") - 1
      title = text
      sub(/^#+ /, "", title)
      title = inline(title)
      startBlock(0)
      emit(title)
      emit(underline(title, level == 1 ? "=" : level == 2 ? "-" : "~"))
      continue
    }
    if (match(text, /^ *([-*]|[0-9]+\.) /)) {
      itemIndent = RLENGTH  # before the flush, whose matching moves RLENGTH
      flushParagraph()
      marker = substr(text, 1, itemIndent)
      paragraph = substr(text, itemIndent + 1)
      paragraphIsItem = 1
      paragraphFirst = marker
      paragraphRest = substr("                ", 1, itemIndent)
      continue
    }
    match(text, /^ */)
    if (paragraph != "") {
      sub(/^[ \t]+/, "", text)
      paragraph = paragraph " " text
      continue
    }
    # A new paragraph: inside the list item when indented to its text.
    if (itemIndent > 0 && RLENGTH >= itemIndent) {
      paragraphIsItem = 0
      paragraphFirst = substr("                ", 1, itemIndent)
      paragraphRest = paragraphFirst
    } else {
      itemIndent = -1
      paragraphIsItem = 0
      paragraphFirst = ""
      paragraphRest = ""
    }
    sub(/^[ \t]+/, "", text)
    paragraph = text
  }
  flushParagraph()
  flushTable()
  if (inCode) fail("a code block without its end")
  for (k = 1; k <= replacements; k++)
    if (!used[k]) fail("README.md no longer says what is replaced for Windows: " replaced[k])

  printf "\357\273\277" > out
  for (k = 1; k <= results; k++) printf "%s\r\n", result[k] > out
  close(out)
}
