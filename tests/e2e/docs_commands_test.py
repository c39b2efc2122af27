"""The documentation's commands, run: README.md and every docs/*.md, so that
a command or a sample output that no longer matches the programs fails.

Every fenced block of those files has, on the line before it, an HTML
comment that says what to do with it; a fenced block without one, or a code
block indented instead of fenced, is a failure:

  <!-- check -->              sh: run by bash (set -e, pipefail), which must
                              end with status 0; sql: run by mariadb on the
                              index the shell's SE_DB_* variables name
  <!-- output -->             the block is the standard output of the
                              checked block before it
  <!-- output-of: COMMAND --> the block is the standard output of COMMAND
                              (any lines), which must end with status 0
  <!-- file: NAME -->         the block is written to NAME, for the commands
                              after it
  <!-- upgrade-from: SQL -->  sql: statements that bring an index made by
                              index/schema.sql and then SQL (an older index)
                              to index/schema.sql's tables and rows
  <!-- not checked: REASON --> left out (root on a real system, another web
                              server, minutes of running)

How outputs are compared: trailing blanks and blank lines at the end are
dropped and runs of blanks count as one (tab-separated columns); a line
"..." stands for any lines, "..." within a line for any text. Options in
parentheses after the keyword: "any numbers" lets every number differ
(times, rates), "wrapped" compares without any white space (a long line
the document wraps).

Where the commands run: a network namespace of the test's own (ports 80,
8080 and 8081 of 127.0.0.1 are the test's), in a copy of the checkout's top
made of links to its files plus "build", a link to the build tree, so the
commands read as they do from a checkout and write nothing into it. The
environment is the test's less every SE_* variable and ASPELL_CONF, with
LC_ALL=C.UTF-8 (a UTF-8 terminal), XDG_DATA_HOME in the test's directory
(scripts/dbserver.sh's default index is the test's own) and
SE_DEMO_SKIP_BUILD=1 (the demo uses the build as it is). README.md runs
first: it starts the demo, whose index and servers the other files' commands
use; then each docs/*.md in name order, each in a shell of its own whose
variables and working directory carry from block to block (an output-of
command leaves them as they were). Besides the demo, the test serves on
127.0.0.1:8081 a chain of on-theme pages /1.html ... /7.html, each answering after
0.9 s, so a crawl lasts long enough to print a progress line.

Then: links between the files, to their headings and to files of the
checkout resolve, and every path of the checkout that a code span or block
names exists.

Usage: docs_commands_test.py SOURCE_DIR BUILD_DIR
"""

import difflib
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crawler_run import Checks, Site, in_private_network  # noqa: E402

BLOCK_SECONDS = 120
KEYWORDS = ("check", "output", "output-of", "file", "upgrade-from", "not checked")
OPTIONS = ("any numbers", "wrapped")
MARKER = re.compile(r"(?P<keyword>[a-z][a-z -]*?)\s*(?:\((?P<options>[^)]*)\))?\s*"
                    r"(?::\s*(?P<argument>.*))?", re.S)
FENCE = re.compile(r"^(?P<indent> *)(?P<fence>```+|~~~+)\s*(?P<lang>[\w-]*)\s*$")
LIST_ITEM = re.compile(r"^ *(?:[-*+]|\d+[.)]) +")
NUMBER = r"\d+(?:\.\d+)?"


class Block:
    """A fenced block: where it is, its language and text, and its marker."""

    def __init__(self, path, line, lang, text):
        self.path = path
        self.line = line
        self.lang = lang
        self.text = text
        self.keyword = None
        self.options = []
        self.argument = ""

    def where(self):
        return "%s:%d" % (self.path, self.line)


def read_markdown(path, name):
    """The fenced blocks of a Markdown file with their markers, the file's
    text outside blocks and comments (for links and code spans), and its
    problems: blocks without a valid marker, indented code blocks."""
    lines = open(path, encoding="utf-8").read().split("\n")
    blocks, problems, prose = [], [], []
    comment = []        # the lines of the last HTML comment, if just before
    in_comment = False
    base = 0            # content column of the list item the text is in
    previous_blank = True
    i = 0
    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        if in_comment:
            comment.append(line)
            in_comment = "-->" not in line
            i += 1
            continue
        indent = len(line) - len(line.lstrip(" "))
        if stripped and previous_blank and indent < base:
            base = indent  # the list ended, or its item's text went on
        if stripped.startswith("<!--"):
            comment = [line]
            in_comment = "-->" not in line
            previous_blank = False
            i += 1
            continue
        fence = FENCE.match(line)
        if fence:
            indent, mark = len(fence.group("indent")), fence.group("fence")
            end = i + 1
            while end < len(lines) and not re.match(r"^ *" + re.escape(mark[0]) + "{%d,}\\s*$"
                                                    % len(mark), lines[end]):
                end += 1
            body = [re.sub(r"^ {0,%d}" % indent, "", text) for text in lines[i + 1:end]]
            block = Block(name, i + 1, fence.group("lang"), "\n".join(body) + "\n")
            problems.extend(apply_marker(block, comment))
            blocks.append(block)
            comment = []
            previous_blank = False
            i = end + 1
            continue
        if not stripped:
            previous_blank = True
            i += 1
            continue
        comment = []
        item = LIST_ITEM.match(line)
        if previous_blank and not item and indent >= base + 4:
            problems.append("%s:%d: a code block indented instead of fenced" % (name, i + 1))
        if item:
            base = len(item.group(0))
        previous_blank = False
        prose.append(line)
        i += 1
    return blocks, problems, "\n".join(prose)


def apply_marker(block, comment):
    """Reads the HTML comment before the block into it; the problems."""
    if not comment:
        return ["%s: a fenced block without a marker comment" % block.where()]
    text = "\n".join(comment).strip()
    text = text[len("<!--"):text.rindex("-->")].strip()
    match = MARKER.fullmatch(text)
    keyword = match.group("keyword") if match else None
    if keyword not in KEYWORDS:
        return ["%s: unknown marker <!-- %s -->" % (block.where(), text)]
    block.keyword = keyword
    block.options = [o.strip() for o in (match.group("options") or "").split(",") if o.strip()]
    block.argument = (match.group("argument") or "").strip()
    problems = []
    if not block.lang:
        problems.append("%s: a fenced block without a language" % block.where())
    if any(o not in OPTIONS for o in block.options) or (
            block.options and keyword not in ("output", "output-of")):
        problems.append("%s: options %s not understood" % (block.where(), block.options))
    needs_argument = keyword in ("output-of", "file", "upgrade-from", "not checked")
    if needs_argument != bool(block.argument):
        problems.append("%s: <!-- %s --> %s" % (block.where(), keyword,
                        "needs its argument" if needs_argument else "takes no argument"))
    if keyword == "check" and block.lang not in ("sh", "sql"):
        problems.append("%s: only sh and sql blocks can be checked" % block.where())
    if keyword == "upgrade-from" and block.lang != "sql":
        problems.append("%s: upgrade-from marks an sql block" % block.where())
    return problems


def normalised_lines(text):
    lines = [re.sub(r"[ \t]+", " ", line).rstrip() for line in text.split("\n")]
    while lines and not lines[-1]:
        lines.pop()
    return lines


def literal(text, any_numbers, gap):
    """A pattern for text: '...' is `gap`, numbers any number if asked."""
    pieces = []
    for part in text.split("..."):
        if any_numbers:
            pieces.append(NUMBER.join(re.escape(p) for p in re.split(NUMBER, part)))
        else:
            pieces.append(re.escape(part))
    return gap.join(pieces)


def output_matches(expected, actual, options):
    """Whether the actual output is the expected one, as the module says."""
    any_numbers = "any numbers" in options
    if "wrapped" in options:
        pattern = literal(re.sub(r"\s+", "", expected), any_numbers, ".*?")
        return re.fullmatch(pattern, re.sub(r"\s+", "", actual), re.S) is not None
    parts = []
    for line in normalised_lines(expected):
        if line.strip() == "...":
            parts.append(r"(?:[^\n]*\n)*?")
        else:
            parts.append(literal(line, any_numbers, r"[^\n]*?") + r"\n")
    actual_text = "".join(line + "\n" for line in normalised_lines(actual))
    return re.fullmatch("".join(parts), actual_text) is not None


def difference(expected, actual):
    return "\n".join(difflib.unified_diff(normalised_lines(expected), normalised_lines(actual),
                                          "document", "output", lineterm=""))


class Shell:
    """A bash session of one file: its variables and working directory
    carry from one command to the next."""

    def __init__(self, env, cwd, scratch):
        self.env = dict(env)
        self.cwd = cwd
        self.scratch = scratch

    def run(self, script, keep=True):
        """Runs the script; returns (status, stdout, stderr) as text."""
        state = os.path.join(self.scratch, "state")
        wrapper = ("cd %s || exit 97\n" % shlex.quote(self.cwd) +
                   "trap 'status=$?; env -0 >%s.env; pwd >%s.cwd; exit $status' EXIT\n"
                   % (shlex.quote(state), shlex.quote(state)) +
                   "set -e -o pipefail\n" + script)
        status, out, err = run_process(["bash", "--noprofile", "--norc", "-c", wrapper],
                                       self.env, self.cwd)
        if keep and os.path.exists(state + ".env"):
            with open(state + ".env", "rb") as saved:
                pairs = [item.split(b"=", 1) for item in saved.read().split(b"\0") if b"=" in item]
            self.env = {k.decode(): v.decode("utf-8", "replace") for k, v in pairs
                        if k not in (b"_", b"SHLVL", b"OLDPWD")}
            with open(state + ".cwd") as saved:
                self.cwd = saved.read().strip()
        for suffix in (".env", ".cwd"):
            if os.path.exists(state + suffix):
                os.unlink(state + suffix)
        return status, out, err

    def sql(self, statements, database=True, headers=True):
        """Runs statements with the mariadb client on the index that SE_DB_*
        name (on its server only, without `database`)."""
        env = self.env
        if "SE_DB_SOCKET" not in env and "SE_DB_HOST" not in env:
            return 1, "", "no SE_DB_* variable in this file's shell names an index"
        command = ["mariadb", "--no-defaults", "--batch" if headers else "-NB",
                   "-u" + env.get("SE_DB_USER", "se_user"),
                   "-p" + env.get("SE_DB_PASSWORD", "sesame_word")]
        if "SE_DB_SOCKET" in env:
            command += ["-S", env["SE_DB_SOCKET"]]
        else:
            command += ["-h", env["SE_DB_HOST"], "-P", env.get("SE_DB_PORT", "3306")]
        if database:
            command.append(env.get("SE_DB_NAME", "search_engine"))
        return run_process(command, env, self.cwd, statements)


def run_process(command, env, cwd, stdin=None):
    """Runs a command in a session of its own, ended with its process group
    after BLOCK_SECONDS; returns (status, stdout, stderr) as text."""
    process = subprocess.Popen(command, env=env, cwd=cwd, start_new_session=True,
                               stdin=subprocess.PIPE if stdin is not None else subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = process.communicate(stdin.encode() if stdin is not None else None,
                                       timeout=BLOCK_SECONDS)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        out, err = process.communicate()
        err += b"\n(ended after %d s)" % BLOCK_SECONDS
    return process.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")


def index_snapshot(shell, database):
    """Every table's definition and rows in `database`, as one text."""
    status, out, err = shell.sql("SHOW TABLES FROM `%s`" % database, False, False)
    if status != 0:
        return None, err
    statements = "".join("SHOW CREATE TABLE `%s`.`%s`; SELECT * FROM `%s`.`%s`;\n"
                         % (database, t, database, t) for t in sorted(out.split()))
    status, out, err = shell.sql(statements, False, False)
    return (out, "") if status == 0 else (None, err)


def check_upgrade(shell, block, schema, current, checks):
    """The block brings an index made by the schema and then the marker's
    statements back to what the schema makes; `current` holds, once made,
    the definitions and rows of an index fresh from the schema."""
    made = "DROP DATABASE IF EXISTS `{0}`; CREATE DATABASE `{0}` CHARACTER SET latin1; " \
           "USE `{0}`; SOURCE {1};\n"
    older = "docs_check_older"
    try:
        if "snapshot" not in current:
            shell.sql(made.format("docs_check_current", schema), database=False)
            current["snapshot"], _ = index_snapshot(shell, "docs_check_current")
            shell.sql("DROP DATABASE `docs_check_current`", database=False)
        wanted = current["snapshot"]
        status, _, err = shell.sql(made.format(older, schema) + block.argument + ";\n",
                                   database=False)
        if status != 0:
            checks.expect(block.where() + " upgrade: an older index made", False, err)
            return
        before, _ = index_snapshot(shell, older)
        checks.expect(block.where() + " upgrade: the older index differs from the current one",
                      wanted is not None and before != wanted)
        status, _, err = shell.sql("USE `%s`;\n%s" % (older, block.text), database=False)
        after, _ = index_snapshot(shell, older)
        checks.expect(block.where() + " upgrade: the statements bring the index up to date",
                      status == 0 and after == wanted,
                      err or difference(wanted or "", after or ""))
    finally:
        shell.sql("DROP DATABASE IF EXISTS `%s`" % older, database=False)


def run_file(name, blocks, shell, schema, current, checks):
    last_output = None  # the standard output of the last checked block
    for block in blocks:
        what = block.where()
        started = time.monotonic()
        if block.keyword == "check":
            if block.lang == "sh":
                status, out, err = shell.run(block.text)
            else:
                status, out, err = shell.sql(block.text)
            checks.expect(what + " runs", status == 0,
                          "status %s\n%s%s" % (status, out[-2000:], err[-2000:]))
            last_output = out if status == 0 else None
        elif block.keyword in ("output", "output-of"):
            if block.keyword == "output-of":
                status, out, err = shell.run(block.argument, keep=False)
                checks.expect(what + " its command runs", status == 0,
                              "status %s\n%s%s" % (status, out[-2000:], err[-2000:]))
            else:
                checks.expect(what + " follows a checked block", last_output is not None)
                out = last_output or ""
            checks.expect(what + " is the output", output_matches(block.text, out, block.options),
                          "\n" + difference(block.text, out))
        elif block.keyword == "file":
            with open(os.path.join(shell.cwd, block.argument), "w", encoding="utf-8") as written:
                written.write(block.text)
        elif block.keyword == "upgrade-from":
            check_upgrade(shell, block, schema, current, checks)
        if block.keyword != "check":
            last_output = None
        if time.monotonic() - started > 1:
            print("%s: %.1f s" % (what, time.monotonic() - started))


def slug(heading):
    text = re.sub(r"[`*_]", "", heading.strip().lower())
    return re.sub(r"[^\w\- ]", "", text).replace(" ", "-")


def check_links(source, files, texts, checks):
    """Relative links, their anchors, and paths in code resolve."""
    headings = {}
    for name in files:
        with open(os.path.join(source, name), encoding="utf-8") as markdown:
            in_fence = False
            found = set()
            for line in markdown:
                if FENCE.match(line):
                    in_fence = not in_fence
                elif not in_fence and line.startswith("#"):
                    found.add(slug(line.lstrip("#")))
            headings[name] = found
    broken = []
    for name in files:
        prose = re.sub(r"`[^`]*`", "", texts[name])
        for target in re.findall(r"\]\(([^)\s]+)\)", prose):
            if re.match(r"[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            resolved = os.path.normpath(os.path.join(os.path.dirname(name), path)) if path else name
            if not os.path.exists(os.path.join(source, resolved)):
                broken.append("%s: %s (no such file)" % (name, target))
            elif anchor and anchor not in headings.get(resolved, set()):
                broken.append("%s: %s (no such heading)" % (name, target))
    checks.expect("the links between the documents resolve", not broken, "\n".join(broken))

    folders = sorted(entry for entry in os.listdir(source) if os.path.isdir(
        os.path.join(source, entry)) and not entry.startswith((".", "build", "run")))
    path = re.compile(r"(?<![\w./-])((?:%s)/[\w./-]*)" % "|".join(map(re.escape, folders)))
    missing = []
    for name in files:
        with open(os.path.join(source, name), encoding="utf-8") as markdown:
            text = markdown.read()
        code = re.findall(r"```[^\n]*\n(.*?)```", text, re.S) + re.findall(r"`([^`\n]+)`", text)
        for span in code:
            for found in path.findall(span):
                found = found.rstrip(".,")
                if not os.path.exists(os.path.join(source, found)):
                    missing.append("%s: %s" % (name, found))
    checks.expect("the checkout's paths the documents name exist", not missing,
                  "\n".join(sorted(set(missing))))


def check_the_checker(checks):
    """The comparison and the markers refuse what they must: a test of this
    test, so that it cannot pass whatever the documents say."""
    cases = [
        ("a\n...\nd\n", "a\nb\nc\nd\n", [], True),
        ("a\n...\nd\n", "a\nb\nc\n", [], False),
        ("x ... z\n", "x y z\n", [], True),
        ("rate 23.5 pages/s\n", "rate 1 pages/s\n", ["any numbers"], True),
        ("rate 23.5 pages/s\n", "rate 1 pages/s\n", [], False),
        ("pages\t36\n", "pages  36\n\n", [], True),
        ('{"a":1,\n "b":2}\n', '{"a":1, "b":2}\n', ["wrapped"], True),
        ('{"a":1,\n "b":2}\n', '{"a":1, "b":3}\n', ["wrapped"], False),
    ]
    wrong = [case for case in cases if output_matches(*case[:3]) != case[3]]
    checks.expect("the comparison of outputs tells a match from a difference", not wrong,
                  str(wrong))
    with tempfile.NamedTemporaryFile("w", suffix=".md", delete=False) as sample:
        sample.write("- a list\n\n```sh\nrm -rf /\n```\n\n    indented\n\n"
                     "<!-- check -->\n```text\nx\n```\n")
    try:
        _, problems, _ = read_markdown(sample.name, "sample.md")
    finally:
        os.unlink(sample.name)
    checks.expect("an unmarked block, an indented block and a wrongly marked one are refused",
                  len(problems) == 3 and "without a marker" in problems[0] and
                  "indented" in problems[1] and "only sh and sql" in problems[2], str(problems))


def slow_pages():
    """127.0.0.1:8081/1.html ... /7.html: on-theme pages, each linking to the
    next and answering after 0.9 s."""
    pages = {}
    for number in range(1, 8):
        link = '<a href="/%d.html">suite</a>' % (number + 1) if number < 7 else ""
        body = "<html><body><p>Les abeilles du rucher, page %d.</p>%s</body></html>"
        pages["/%d.html" % number] = ("text/html", (body % (number, link)).encode(), 0.9)
    return Site(pages, port=8081)


def stop_servers(checkout, env):
    """Stops what the documents' commands started (by their pid files): the
    demo and the default private server, side by side."""
    if os.path.exists(os.path.join(checkout, "demo.sh")):
        stops = [subprocess.Popen(command, env=env, cwd=checkout, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
                 for command in (["./demo.sh", "stop"], ["scripts/dbserver.sh", "stop"])]
        for stop in stops:
            stop.wait(timeout=BLOCK_SECONDS)


def main(argv):
    source = os.path.abspath(argv[1])
    build = os.path.abspath(argv[2])
    in_private_network(argv)
    checks = Checks()
    check_the_checker(checks)

    files = ["README.md"] + sorted("docs/" + name for name in os.listdir(
        os.path.join(source, "docs")) if name.endswith(".md"))
    parsed, texts = {}, {}
    for name in files:
        blocks, problems, texts[name] = read_markdown(os.path.join(source, name), name)
        parsed[name] = blocks
        checks.expect("every block of %s is marked, and fenced" % name, not problems,
                      "\n".join(problems))
    check_links(source, files, texts, checks)

    work = os.path.join(build, "e2e", "docs")
    checkout = os.path.join(work, "checkout")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("SE_", "LC_")) and
           k not in ("ASPELL_CONF", "BUILD_DIR", "LANG", "LANGUAGE")}
    env.update(LC_ALL="C.UTF-8", XDG_DATA_HOME=os.path.join(work, "xdg"), SE_DEMO_SKIP_BUILD="1",
               SE_DEMO_QUIET_SECONDS="2")
    # Leftovers of an aborted run (their servers live in another namespace).
    stop_servers(checkout, env)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(checkout)
    for entry in os.listdir(source):
        if not entry.startswith((".git", "build", "run")):
            os.symlink(os.path.join(source, entry), os.path.join(checkout, entry))
    os.symlink(build, os.path.join(checkout, "build"))
    schema = os.path.join(source, "index", "schema.sql")

    slow = slow_pages()
    current = {}  # an index fresh from the schema, for the upgrades
    try:
        for name in files:
            if not any(b.keyword in ("check", "output-of", "upgrade-from") for b in parsed[name]):
                continue
            started = time.monotonic()
            run_file(name, parsed[name], Shell(env, checkout, work), schema, current, checks)
            print("%s: %.1f s" % (name, time.monotonic() - started))
            if name == "README.md":
                checks.expect("the README started the demo, whose index the documents search",
                              os.path.exists(os.path.join(checkout, "run", "demo-db",
                                                          "mysqld.sock")))
    finally:
        slow.close()
        stop_servers(checkout, env)
    checks.finish()


if __name__ == "__main__":
    main(sys.argv)
