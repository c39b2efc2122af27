"""The relevance benchmark's scoring and reading, without network or database:
the measures on a small judged fixture scored by hand, the tool's reading of
our JSON view, our plain page and htsearch's output (replies as the programs
write them), how queries are sent and result URLs mapped to site paths, and
the judged query files themselves.
Usage: relevance_metrics_test.py SOURCE_DIR"""

import glob
import json
import os
import sys
import unittest

SOURCE = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(SOURCE, "bench"))

import relevance_eval  # noqa: E402
import relevance_metrics as metrics  # noqa: E402

# Four judged queries and the rankings a system gave, scored by hand with
# gain 2^grade - 1 and discount log2(rank + 1) (log2 3 = 1.5849625):
#
# nav: a is the page (2), b relevant (1); ranking x a b
#   RR = 1/2, P@1 = 0
#   DCG  = 0 + 3/log2 3 + 1/log2 4 = 1.8927893 + 0.5 = 2.3927893
#   IDCG = 3/log2 2 + 1/log2 3     = 3 + 0.6309298 = 3.6309298
#   nDCG = 2.3927893 / 3.6309298 = 0.6590018
# miss: c (2); ranking x y: nothing relevant, RR = P@1 = nDCG = 0
# dup: d, e (1 each); ranking d d e: the second d is a page already seen
#   RR = 1, P@1 = 1
#   DCG  = 1 + 0 + 1/log2 4 = 1.5;  IDCG = 1 + 1/log2 3 = 1.6309298
#   nDCG = 1.5 / 1.6309298 = 0.9197208
# late: f (2); ranking: ten unjudged pages, then f at rank 11
#   RR = 1/11 = 0.0909091, P@1 = 0, nDCG@10 = 0 (f is past the cutoff)
#
# Means: MRR = (0.5 + 0 + 1 + 0.0909091) / 4 = 0.3977273
#        P@1 = (0 + 0 + 1 + 0) / 4         = 0.25
#        nDCG = (0.6590018 + 0 + 0.9197208 + 0) / 4 = 0.3946806
FIXTURE = [
    ("nav", {"a": 2, "b": 1}, ["x", "a", "b"], 0.5, 0.0, 0.6590018),
    ("miss", {"c": 2}, ["x", "y"], 0.0, 0.0, 0.0),
    ("dup", {"d": 1, "e": 1}, ["d", "d", "e"], 1.0, 1.0, 0.9197208),
    ("late", {"f": 2}, ["u%d" % i for i in range(10)] + ["f"], 1 / 11, 0.0, 0.0),
]


class Measures(unittest.TestCase):
    def test_each_query_scores_as_computed_by_hand(self):
        for name, judged, ranking, rr, p1, ndcg in FIXTURE:
            with self.subTest(query=name, ranking=ranking):
                scores = metrics.score_query(ranking, judged)
                self.assertAlmostEqual(scores["rr"], rr, places=6)
                self.assertAlmostEqual(scores["p1"], p1, places=6)
                self.assertAlmostEqual(scores["ndcg"], ndcg, places=6)

    def test_means_over_the_fixture(self):
        means = metrics.mean_scores([metrics.score_query(ranking, judged)
                                     for _, judged, ranking, *_ in FIXTURE])
        self.assertEqual(means["queries"], 4)
        self.assertAlmostEqual(means["mrr"], 0.3977273, places=6)
        self.assertAlmostEqual(means["p1"], 0.25, places=6)
        self.assertAlmostEqual(means["ndcg"], 0.3946806, places=6)

    def test_no_result_scores_zero_and_no_judgment_is_refused(self):
        self.assertEqual(metrics.score_query([], {"a": 2}), {"rr": 0.0, "p1": 0.0, "ndcg": 0.0})
        self.assertEqual(metrics.mean_scores([])["mrr"], None)
        with self.assertRaises(ValueError):
            metrics.ndcg(["a"], {"a": 0})

    def test_halves_are_averaged_apart(self):
        # nav in the tune half, dup held out: each half is its query's scores.
        queries = [{"id": "nav", "half": "tune", "relevant": FIXTURE[0][1]},
                   {"id": "dup", "half": "held-out", "relevant": FIXTURE[2][1]}]
        summary = relevance_eval.summarize(
            queries, {"s": {"nav": FIXTURE[0][2], "dup": FIXTURE[2][2]}}, relevance_eval.HALVES)
        self.assertAlmostEqual(summary["s"]["tune"]["mrr"], 0.5)
        self.assertAlmostEqual(summary["s"]["held-out"]["mrr"], 1.0)
        self.assertAlmostEqual(summary["s"]["all"]["ndcg"], (0.6590018 + 0.9197208) / 2, places=6)
        table = relevance_eval.markdown_table("t", summary, relevance_eval.HALVES)
        self.assertIn("| s | 0.500 | 1.000 | 0.750 | 0.000 | 1.000 | 0.500 |", table)


JSON_REPLY = (
    b'Content-Type: application/json; charset=utf-8\r\n\r\n'
    b'{"query":"selinux apparmor","total":17,"page":1,"results":['
    b'{"url":"http://127.0.0.1/sect.selinux.html","title":"14.5. Introduction \xc3\xa0 SELinux",'
    b'"excerpt":{"text":"SELinux est un syst\xc3\xa8me","marks":[{"offset":0,"length":7}]}},'
    b'{"url":"http://127.0.0.1/sect.apparmor.html","title":"14.4. AppArmor",'
    b'"excerpt":{"text":"","marks":[]}}]}')
JSON_ERROR = (b'Status: 400 Bad Request\nContent-Type: application/json; charset=utf-8\n\n'
              b'{"status":400,"error":"Erreur de param\xc3\xa8tres : aucun mot \xc3\xa0 chercher"}')
PLAIN_PAGE = (
    b'Content-Type: text/html\n\n<HTML><HEAD><TITLE>Moteur de recherche</TITLE></HEAD><BODY>\n'
    b'<B>Nombre de pages trouv\xe9es : 17</B><BR><BR><BR>\n<CENTER>\n'
    b'<A HREF="http://127.0.0.1/sect.selinux.html">http://127.0.0.1/sect.selinux.html</A><BR><BR>\n'
    b'<A HREF="http://127.0.0.1/a?x=1&amp;y=2">http://127.0.0.1/a?x=1&amp;y=2</A><BR><BR>\n'
    b'<A HREF=""></A><BR><BR>\n</CENTER>\n<CENTER>\n'
    b'<a href="http://searchcgi.invalid/cgi-bin/searchcgi?keyword=selinux&amp;page=1">Previous</a>\n'
    b'&nbsp&nbsp\n'
    b'<a href="http://searchcgi.invalid/cgi-bin/searchcgi?keyword=selinux&amp;page=3">Next</a>\n'
    b'</CENTER>\n</BODY></HTML>\n\n')
HTSEARCH_PAGE = (b"Content-type: text/html\n\n"
                 b"RESULT http://127.0.0.1/sect.apparmor.html\n"
                 b"RESULT http://127.0.0.1/sect.selinux.html\n")


class Reading(unittest.TestCase):
    def test_json_view_results_and_total(self):
        head, body = relevance_eval.split_cgi_reply(JSON_REPLY)
        self.assertEqual(head, ["Content-Type: application/json; charset=utf-8"])
        self.assertEqual(relevance_eval.json_view_results(body),
                         (["http://127.0.0.1/sect.selinux.html",
                           "http://127.0.0.1/sect.apparmor.html"], 17))

    def test_json_error_reply_has_no_results(self):
        _, body = relevance_eval.split_cgi_reply(JSON_ERROR)
        self.assertEqual(relevance_eval.json_view_results(body), ([], 0))

    def test_plain_page_results_skip_empty_slots_and_navigation(self):
        _, body = relevance_eval.split_cgi_reply(PLAIN_PAGE)
        self.assertEqual(relevance_eval.plain_page_results(body),
                         ["http://127.0.0.1/sect.selinux.html", "http://127.0.0.1/a?x=1&y=2"])

    def test_htsearch_results_in_order(self):
        self.assertEqual(relevance_eval.htsearch_results(HTSEARCH_PAGE),
                         ["http://127.0.0.1/sect.apparmor.html",
                          "http://127.0.0.1/sect.selinux.html"])


class Addresses(unittest.TestCase):
    def test_keywords_sent_as_a_latin1_form(self):
        cases = [("mise à jour de sécurité", "mise+%E0+jour+de+s%E9curit%E9"),
                 ("détection d'intrusion", "d%E9tection+d%27intrusion"),
                 ("pare-feu", "pare-feu"), ("  c++  ", "c%2B%2B"), ("a&b=c", "a%26b%3Dc")]
        for text, sent in cases:
            with self.subTest(text=text):
                self.assertEqual(relevance_eval.encode_keywords(text), sent)

    def test_result_urls_mapped_to_site_paths(self):
        aliases = {"": "git.html", "index.html": "git.html"}
        cases = [("http://127.0.0.1/git-rebase.html", "git-rebase.html"),
                 ("http://127.0.0.1/howto/./maintain-git.html#x", "howto/maintain-git.html"),
                 ("http://127.0.0.1/a%20b.html?q=1", "a b.html"),
                 ("http://127.0.0.1/", "git.html"), ("http://127.0.0.1/index.html", "git.html"),
                 ("http://127.0.0.1/howto/", "howto/index.html"),
                 ("http://127.0.0.2/git-rebase.html", None), ("https://127.0.0.1/a.html", None)]
        for url, path in cases:
            with self.subTest(url=url):
                self.assertEqual(relevance_eval.site_path(url, aliases), path)
        self.assertEqual(relevance_eval.top_paths(
            ["http://x.example/a"] + ["http://127.0.0.1/%d.html" % i for i in range(12)], aliases),
            ["http://x.example/a"] + ["%d.html" % i for i in range(9)])


class JudgedQueries(unittest.TestCase):
    """Each site file of bench/relevance/ is usable as it stands."""

    def setUp(self):
        self.sites = []
        for path in sorted(glob.glob(os.path.join(SOURCE, "bench", "relevance", "*.json"))):
            with open(path, encoding="utf-8") as site:
                self.sites.append(json.load(site))
        self.assertGreaterEqual(len(self.sites), 2)

    def test_halves_are_balanced_in_each_site(self):
        for site in self.sites:
            halves = [q["half"] for q in site["queries"]]
            with self.subTest(site=site["site"]):
                self.assertEqual(set(halves), {"tune", "held-out"})
                self.assertEqual(halves.count("tune"), halves.count("held-out"))

    def test_every_query_is_judged_and_can_be_sent(self):
        for site in self.sites:
            ids = [q["id"] for q in site["queries"]]
            self.assertEqual(len(ids), len(set(ids)), site["site"])
            for query in site["queries"]:
                with self.subTest(site=site["site"], query=query["id"]):
                    grades = set(query["relevant"].values())
                    self.assertTrue(grades and grades <= {1, 2}, query["relevant"])
                    if query["kind"] == "navigational":
                        self.assertIn(2, grades)
                    self.assertIn(query["kind"], ("navigational", "informational"))
                    query["text"].encode("latin-1")
                    self.assertTrue(all(not p.startswith(("/", "http")) for p in query["relevant"]))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
