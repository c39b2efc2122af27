-- The index shared by the crawler (writer) and the search CGI (reader).
-- Loaded by scripts/dbserver.sh; safe to load again (IF NOT EXISTS).
--
-- Every table is InnoDB, so a crash never leaves a half-written table, and
-- every text column is Latin-1: the programs send and read Latin-1 bytes and
-- the session character set is Latin-1, so bytes are stored as sent.

-- One row per fetched page.
-- url: latin1_nopad_bin compares byte for byte with no padding, so letter
--   case and trailing spaces are significant: two URLs that differ in any
--   byte are two pages. 3000 bytes fit the 3072-byte InnoDB key limit.
-- nbMotsTheme: defaults to 0 so a fetched page that is not indexed yet
--   still sorts as a number in searches.
CREATE TABLE IF NOT EXISTS Url (
  idUrl INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  url VARCHAR(3000) CHARACTER SET latin1 COLLATE latin1_nopad_bin NOT NULL,
  lastVisit DATETIME NULL,
  nbMotsTheme INT NOT NULL DEFAULT 0,
  UNIQUE KEY url_unique (url)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- URLs that failed or were refused. Exactly one column: the crawler inserts
-- with "values(...)" naming no columns. Byte-exact like Url.url.
CREATE TABLE IF NOT EXISTS UrlInvalide (
  url VARCHAR(3000) CHARACTER SET latin1 COLLATE latin1_nopad_bin NOT NULL,
  PRIMARY KEY (url)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- Why and when each URL of UrlInvalide was given up: the reason of its last
-- refusal ("status 404", "depth limit", "outside the site", ...) and its
-- time. A table of its own, so UrlInvalide keeps the single column its
-- readers rely on; a URL leaves both tables when it is fetched after all.
CREATE TABLE IF NOT EXISTS UrlInvalideRaison (
  url VARCHAR(3000) CHARACTER SET latin1 COLLATE latin1_nopad_bin NOT NULL,
  raison VARCHAR(255) CHARACTER SET latin1 COLLATE latin1_bin NOT NULL,
  moment DATETIME NOT NULL,
  PRIMARY KEY (url)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- The keyword dictionary.
-- mot: latin1_general_ci ignores letter case and nothing else, so a keyword
--   typed "MOTEUR" finds the indexed "moteur", while words that differ in
--   any other way (an accent: "pêche" and "peche") stay distinct rows.
--   The indexer lower-cases A-Z itself; the column only adds the
--   case-insensitive lookup for the search.
CREATE TABLE IF NOT EXISTS MotCle (
  idMot INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  mot VARCHAR(255) CHARACTER SET latin1 COLLATE latin1_general_ci NOT NULL,
  UNIQUE KEY mot_unique (mot)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- Which keyword occurs on which page, and how often (ratio).
-- The primary key (idMot, ratio, idUrl) serves the search's keyword-to-pages
-- join and gives a word's pages by ratio, so a one-word search sorts only
-- the rows that can reach its page and the ranked searches read a word's
-- rows by descending ratio a batch at a time. The unique key on (idUrl,
-- idMot) keeps a page from holding one keyword twice and serves the
-- page-to-keywords join, the exclusion search and the lookup of one page's
-- ratio of a keyword (it holds the ratio, as part of the primary key).
-- Two keys rather than three: a secondary key whose rows go in at random
-- places costs about as much to keep as the rest of the row.
CREATE TABLE IF NOT EXISTS CorrespMotUrl (
  idMot INT UNSIGNED NOT NULL,
  idUrl INT UNSIGNED NOT NULL,
  ratio INT NOT NULL DEFAULT 0,
  PRIMARY KEY (idMot, ratio, idUrl),
  UNIQUE KEY url_mot (idUrl, idMot)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- Which pages each keyword is on, and how many, as bitmaps of 64 pages:
-- page idUrl is bit (idUrl MOD 64) of block idUrl DIV 64. A block's pages
-- are the exclusive or of its parts' bitmaps, its number of pages the sum
-- of their nbPages, so a keyword's number of pages (of CorrespMotUrl rows)
-- is the sum of its rows' nbPages. Every writer of CorrespMotUrl keeps it
-- in step, in the same transaction, writing to a part of its own choosing
-- (0 to 15), so that two writers rarely change one row at the same time.
-- The searches read here how many pages hold a word and, for several
-- words, which pages hold which of them, without reading their rows.
CREATE TABLE IF NOT EXISTS MotBloc (
  idMot INT UNSIGNED NOT NULL,
  bloc INT UNSIGNED NOT NULL,
  part TINYINT UNSIGNED NOT NULL,
  pages BIGINT UNSIGNED NOT NULL,
  nbPages INT NOT NULL,
  PRIMARY KEY (idMot, bloc, part)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;
-- An index made before the blocks gets them from its keyword rows (the
-- table is still empty then; the crawler should not be running).
INSERT INTO MotBloc ( idMot, bloc, part, pages, nbPages ) SELECT idMot, idUrl DIV 64, 0,
  BIT_XOR(1 << (idUrl MOD 64)), COUNT(*) FROM CorrespMotUrl
  WHERE NOT EXISTS (SELECT 1 FROM MotBloc) GROUP BY idMot, idUrl DIV 64;

-- Document kinds met by the crawler ("html", "pdf", "ps").
CREATE TABLE IF NOT EXISTS Extension (
  extension VARCHAR(32) CHARACTER SET latin1 COLLATE latin1_bin NOT NULL,
  UNIQUE KEY extension_unique (extension)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- The URLs a crawl had not done when it stopped in order: still queued, or
-- fetched but not analysed yet. The next crawl of the same site queues them
-- again with their priority and deletes their rows. revisite: 1 for a page
-- of the index fetched again by the crawler's refresh option.
CREATE TABLE IF NOT EXISTS FileAttente (
  url VARCHAR(3000) CHARACTER SET latin1 COLLATE latin1_nopad_bin NOT NULL,
  priorite INT NOT NULL,
  revisite TINYINT NOT NULL DEFAULT 0,
  PRIMARY KEY (url)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- What a result list shows of each on-theme page, written by the crawler in
-- the same transaction as the page's keywords.
-- titre: the page's title as a reader sees it (or its first words), Latin-1.
-- texte: the page's display text (its first 32 KiB), compressed in the
--   layout of COMPRESS(), so UNCOMPRESS(texte) reads it in SQL; the search
--   cuts its excerpts from it.
-- empreinte: a 64-bit hash of the page's whole display text, by which the
--   crawler finds a page that repeats an indexed one (it indexes each text
--   once); NULL for an empty text and for rows written before it existed.
CREATE TABLE IF NOT EXISTS Document (
  idUrl INT UNSIGNED NOT NULL PRIMARY KEY,
  titre VARCHAR(255) CHARACTER SET latin1 COLLATE latin1_bin NOT NULL,
  texte BLOB NOT NULL,
  empreinte BIGINT UNSIGNED NULL DEFAULT NULL,
  KEY empreinte (empreinte)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;
-- An index whose Document table was made before the hash gets it here.
ALTER TABLE Document ADD COLUMN IF NOT EXISTS empreinte BIGINT UNSIGNED NULL DEFAULT NULL,
  ADD KEY IF NOT EXISTS empreinte (empreinte);

-- What the readable views rank by, for each on-theme page, written by the
-- crawler in the same transaction as the page's keywords. An index without
-- these rows still serves every view; the ranking then treats every page
-- as of average length and without fields.
-- nbMots: the page's words in all (its body's length); the others, the
--   words of its title, of its headings (h1-h3), of its URL's path and of
--   its description meta. langue: the page's language ("fr", "en"), from
--   its html lang attribute or Content-Language, else the crawler's default.
CREATE TABLE IF NOT EXISTS DocumentMesure (
  idUrl INT UNSIGNED NOT NULL PRIMARY KEY,
  nbMots INT NOT NULL DEFAULT 0,
  nbMotsTitre INT NOT NULL DEFAULT 0,
  nbMotsIntertitres INT NOT NULL DEFAULT 0,
  nbMotsChemin INT NOT NULL DEFAULT 0,
  nbMotsDescription INT NOT NULL DEFAULT 0,
  langue VARCHAR(8) CHARACTER SET latin1 COLLATE latin1_bin NOT NULL DEFAULT ''
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- How often a keyword of an on-theme page stands in one of its fields that
-- rank above the body: champ 1 the title, 2 the headings, 3 the URL's path,
-- 4 the description. Only words that are keywords of the page (in
-- CorrespMotUrl) have rows. The key on idUrl serves the removal of a
-- page's rows when it is indexed again.
CREATE TABLE IF NOT EXISTS MotChamp (
  idMot INT UNSIGNED NOT NULL,
  idUrl INT UNSIGNED NOT NULL,
  champ TINYINT UNSIGNED NOT NULL,
  nb INT NOT NULL,
  PRIMARY KEY (idMot, idUrl, champ),
  KEY url_champ (idUrl)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- The validators of each page's last "200" reply, written in the page's
-- transaction: its ETag and Last-Modified header values, byte for byte
-- (empty when the reply had none). A refresh sends them back as
-- "If-None-Match" and "If-Modified-Since"; a "304" answer keeps the page's
-- rows. A page whose reply had neither has no row.
CREATE TABLE IF NOT EXISTS UrlValidateurs (
  idUrl INT UNSIGNED NOT NULL PRIMARY KEY,
  etag VARBINARY(255) NOT NULL DEFAULT '',
  lastModified VARBINARY(255) NOT NULL DEFAULT ''
) ENGINE=InnoDB DEFAULT CHARSET=latin1;
