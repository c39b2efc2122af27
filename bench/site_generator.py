"""Generates a deterministic Latin-1 web site for the crawl benchmark.

    site_generator.py OUTDIR [--pages N] [--seed S] [--host 127.0.0.1]

OUTDIR/site/ receives N HTML pages of 5 to 30 KB (median near 11 KB) in
section folders: a title, meta keywords, paragraphs of French-like text
(half the pages write accented letters as raw Latin-1 bytes, half as
entities) and about 13 links a page in every form a site uses (relative,
"./", "../", rooted, absolute, some to other sites, about 3% to pages that
do not exist). About 20% of the pages are on the theme, clustered in
sections. OUTDIR/themes.txt is the matching theme-word file. The first
page is /index.html; every page is reachable from it."""

import argparse
import math
import os
import random

# Theme words and weights: "abeille" must occur, one weighted word must
# reach its weight.
THEME = [("abeille", 0), ("miel", 3), ("ruche", 2), ("pollen", 2), ("essaim", 1),
         ("apiculteur", 1), ("rucher", 1), ("nectar", 2), ("reine", 2), ("cire", 2)]

SYLLABLES = ["la", "le", "ri", "vo", "tu", "ma", "ne", "pi", "cho", "ran", "ber", "sel", "mon",
             "tor", "vil", "par", "don", "gre", "lu", "sa", "fi", "qua", "tre", "ment", "tion",
             "eau", "oir", "ien", "ain", "et"]
ACCENTED = ["\xe9", "\xe8", "\xea", "\xe0", "\xe7", "\xf4", "\xee", "\xfb"]
ENTITIES = {"\xe9": "&eacute;", "\xe8": "&egrave;", "\xea": "&ecirc;", "\xe0": "&agrave;",
            "\xe7": "&ccedil;", "\xf4": "&ocirc;", "\xee": "&icirc;", "\xfb": "&ucirc;"}
COMMON = ["le", "la", "les", "de", "des", "du", "et", "en", "un", "une", "pour", "dans", "sur",
          "avec", "est", "sont", "qui", "que", "par", "au", "aux", "ce", "cette", "mais", "nous"]
OFF_SITE = ["http://www.ailleurs.example/", "http://nature.example/jardin.html",
            "http://meteo.example/previsions/", "http://www.mairie-exemple.fr/agenda.html"]
SECTION_PAGES = 40


def make_vocabulary(rng, size):
    words = set()
    while len(words) < size:
        word = "".join(rng.choice(SYLLABLES) for _ in range(rng.randint(1, 4)))
        if rng.random() < 0.35:
            at = rng.randrange(len(word) + 1)
            word = word[:at] + rng.choice(ACCENTED) + word[at:]
        words.add(word)
    return sorted(words)


def page_size(rng):
    # Log-normal around 11 KB, kept within 5 to 30 KB.
    return int(min(30000, max(5000, rng.lognormvariate(math.log(11000), 0.45))))


def sentence(rng, vocabulary, extra):
    words = [rng.choice(COMMON) if rng.random() < 0.4 else
             vocabulary[min(len(vocabulary) - 1, int(rng.paretovariate(1.1))) - 1
                        if rng.random() < 0.5 else rng.randrange(len(vocabulary))]
             for _ in range(rng.randint(6, 18))]
    for word in extra:
        words.insert(rng.randrange(len(words) + 1), word)
    text = " ".join(words)
    return text[0].upper() + text[1:] + "."


def encode(text, entities):
    if entities:
        text = "".join(ENTITIES.get(ch, ch) for ch in text)
    return text.encode("latin-1")


class Site:
    def __init__(self, pages, seed, host):
        self.rng = random.Random(seed)
        self.host = host
        self.count = pages
        sections = max(1, (pages - 1 + SECTION_PAGES - 1) // SECTION_PAGES)
        # Page 0 is /index.html; page i > 0 is in section (i - 1) // 40.
        self.paths = ["index.html"] + ["s%03d/p%05d.html" % ((i - 1) // SECTION_PAGES, i)
                                       for i in range(1, pages)]
        # Whole sections are on theme, so on-theme pages cluster; about 20%.
        order = list(range(sections))
        self.rng.shuffle(order)
        theme_sections = set(order[:max(1, round(sections * 0.2))])
        self.on_theme = [i > 0 and (i - 1) // SECTION_PAGES in theme_sections
                         for i in range(pages)]
        self.on_theme[0] = True
        self.vocabulary = make_vocabulary(self.rng, 6000)

    def directory(self, i):
        return os.path.dirname(self.paths[i])

    def link_to(self, i, target):
        """One link from page i to page target, in a form chosen at random."""
        path = self.paths[target]
        here = self.directory(i)
        there = os.path.dirname(path)
        form = self.rng.random()
        if here == "":
            if form < 0.5:
                return "/" + path
            return ("./" if form < 0.7 else "") + path
        if form < 0.12:
            return "http://%s/%s" % (self.host, path)
        if form < 0.2:
            # Rooted links resolve against the server root only where the
            # page itself is at the root; elsewhere they are written as
            # absolute links.
            return "http://%s/%s" % (self.host, path)
        if here == there:
            name = os.path.basename(path)
            return ("./" + name) if form < 0.45 else name
        return os.path.relpath(path, here)

    def links(self, i):
        rng = self.rng
        targets = []
        if i + 1 < self.count:
            targets.append(i + 1)  # every page is reachable along the chain
        section_start = 1 + ((i - 1) // SECTION_PAGES) * SECTION_PAGES if i > 0 else 1
        for _ in range(rng.randint(9, 13)):
            if rng.random() < 0.7 and i > 0:
                target = section_start + rng.randrange(SECTION_PAGES)
            else:
                target = rng.randrange(self.count)
            if 0 <= target < self.count and target != i:
                targets.append(target)
        hrefs = [self.link_to(i, target) for target in targets]
        if rng.random() < 0.35:
            hrefs.append(rng.choice(OFF_SITE))
        if rng.random() < 0.4:  # about 3% of all links are dead
            dead = "absent%05d.html" % rng.randrange(100000)
            hrefs.append(dead if i > 0 or rng.random() < 0.5 else "/" + dead)
        rng.shuffle(hrefs)
        return hrefs

    def theme_words(self, i):
        if not self.on_theme[i]:
            # Off theme: sometimes a weighted word, never the required one.
            return ["miel"] * self.rng.randint(0, 2)
        words = ["abeille"] * self.rng.randint(1, 4)
        for word, weight in THEME[1:]:
            if self.rng.random() < 0.6:
                words += [word] * self.rng.randint(max(1, weight), weight + 3)
        return words

    def page(self, i):
        rng = self.rng
        entities = i % 2 == 1
        target = page_size(rng)
        title = " ".join(rng.choice(self.vocabulary) for _ in range(rng.randint(3, 6)))
        keywords = ", ".join(rng.choice(self.vocabulary) for _ in range(5))
        theme = self.theme_words(i)
        hrefs = self.links(i)
        head = ("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\n<html><head>\n"
                "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\n"
                "<title>%s</title>\n<meta name=\"keywords\" content=\"%s\">\n</head>\n"
                "<body>\n<h1>%s</h1>\n" % (title.capitalize(), keywords, title))
        parts = [encode(head, entities)]
        size = len(parts[0])
        paragraphs = []
        while size < target - 600:
            extra = [theme.pop()] if theme and rng.random() < 0.5 else []
            text = " ".join(sentence(rng, self.vocabulary, extra)
                            for _ in range(rng.randint(2, 6)))
            paragraphs.append(text)
            size += len(encode(text, entities)) + 8
        while theme:
            paragraphs[rng.randrange(len(paragraphs))] += " " + theme.pop()
        for n, text in enumerate(paragraphs):
            if hrefs and rng.random() < 0.6:
                href = hrefs.pop()
                text += ' Voir <a href="%s">%s</a>.' % (href, rng.choice(self.vocabulary))
            parts.append(encode("<p>%s</p>\n" % text, entities))
        if hrefs:
            items = "".join('<li><a href="%s">%s</a></li>\n' % (href, rng.choice(self.vocabulary))
                            for href in hrefs)
            parts.append(encode("<ul>\n%s</ul>\n" % items, entities))
        parts.append(b"</body></html>\n")
        return b"".join(parts)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("outdir")
    parser.add_argument("--pages", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=13)
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()
    site = Site(args.pages, args.seed, args.host)
    root = os.path.join(args.outdir, "site")
    for i, path in enumerate(site.paths):
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as out:
            out.write(site.page(i))
    with open(os.path.join(args.outdir, "themes.txt"), "w", encoding="latin-1") as out:
        out.write("".join("%s %d\n" % pair for pair in THEME))
    print("%d pages, %d on theme, in %s" % (args.pages, sum(site.on_theme), root))


if __name__ == "__main__":
    main()
