"""Tunes the readable views' ranking weights on the tune half of the judged
queries, and reports the chosen weights on the held-out half.

    python3 bench/relevance_tune.py [--sites NAME,...] [--build DIR] [--out DIR]
                                    [--grid small|full] [--top N] [--fix NAME=VALUE]

Runs as root, after bench/relevance_eval.py has crawled the sites (it reuses
the indexes that run left in OUT, default BUILD/relevance-eval, and their
private MariaDB servers under BUILD/relevance-db). For each candidate set of
weights (a grid around the defaults: k1, b, and the title, headings, path and
description weights against a body of 1, the fields kept in that order) it asks our JSON view, through
SE_RANKING_WEIGHTS, for every tune-half query of every site at once, and
scores the top ten (relevance_metrics.py). The weights are ranked by the
tune half's MRR, then nDCG@10, then P@1, over all the sites' tune queries
together, never one query or one site. Prints the best N candidates on the
tune half, then the defaults and the best on the held-out half, as Markdown
tables; writes them to OUT/tuning.json."""

import argparse
import itertools
import json
import os
import sys

from crawl_harness import ROOT, Database
import relevance_eval
import relevance_metrics

# The built-in weights (RankingWeights in searchcgi/relevance.h).
DEFAULT = {"k1": 2.0, "b": 0.75, "title": 8.0, "headings": 4.0, "path": 1.5,
           "description": 1.5}

GRIDS = {
    # One parameter at a time around the defaults: a quick look.
    "small": [dict(DEFAULT, **{name: value}) for name, values in (
        ("k1", (0.6, 0.9, 1.6, 2.0)), ("b", (0.3, 0.5, 0.9)),
        ("title", (2.0, 3.5, 8.0, 12.0)), ("headings", (1.5, 5.0)),
        ("path", (1.0, 4.0)), ("description", (1.0, 4.0))) for value in values],
    # Every combination of a few values each that keeps the fields in their
    # order (title above headings, headings above the path and the
    # description, those above the body): 4*4*3*3*2*2 = 576 sets.
    "full": [w for w in (
        dict(zip(("k1", "b", "title", "headings", "path", "description"), values))
        for values in itertools.product((0.9, 1.2, 1.6, 2.0), (0.3, 0.4, 0.5, 0.75),
                                        (4.0, 5.0, 8.0), (2.5, 3.0, 4.0), (1.5, 2.0),
                                        (1.5, 2.0)))
        if w["title"] > w["headings"] > max(w["path"], w["description"])],
}


def weights_text(weights):
    """The SE_RANKING_WEIGHTS text of a candidate (the body weighs 1)."""
    return ",".join("%s=%g" % (name, weights[name]) for name in
                    ("k1", "b", "title", "headings", "path", "description"))


def rank(sites, weights):
    """{query id: top paths} of our JSON view under these weights."""
    os.environ["SE_RANKING_WEIGHTS"] = weights_text(weights)
    ranking = {}
    for site, searchcgi, socket, queries in sites:
        for q in queries:
            ranking[q["id"]] = relevance_eval.top_paths(
                relevance_eval.our_ranking(searchcgi, socket, q["text"], "/json"),
                site.get("aliases", {}))
    return ranking


def mean(queries, ranking):
    return relevance_metrics.mean_scores(
        [relevance_metrics.score_query(ranking.get(q["id"], []), q["relevant"]) for q in queries])


def order_key(scores):
    return (scores["mrr"], scores["ndcg"], scores["p1"])


def table(title, rows):
    lines = [title, "", "| weights | MRR | P@1 | nDCG@10 |", "|---|---:|---:|---:|"]
    for weights, scores in rows:
        lines.append("| %s | %.3f | %.3f | %.3f |" % (weights_text(weights), scores["mrr"],
                                                      scores["p1"], scores["ndcg"]))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    names = sorted(f[:-5] for f in os.listdir(relevance_eval.SITES_DIR) if f.endswith(".json"))
    parser.add_argument("--sites", default=",".join(names))
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--out", default=None, help="default BUILD/relevance-eval")
    parser.add_argument("--grid", choices=sorted(GRIDS), default="small")
    parser.add_argument("--top", type=int, default=5)
    parser.add_argument("--fix", action="append", default=[], metavar="NAME=VALUE",
                        help="keep only the grid's sets with this value (for example b=0.75)")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.out = os.path.abspath(args.out or os.path.join(args.build, "relevance-eval"))
    searchcgi = os.path.join(args.build, "searchcgi", "searchcgi")
    databases, tune, held_out = [], [], []
    try:
        for name in args.sites.split(","):
            site = relevance_eval.load_site(name)
            db_dir = os.path.join(args.build, "relevance-db", name)
            if not os.path.isdir(db_dir):
                sys.exit("no index of %s in %s: run bench/relevance_eval.py first" % (name, db_dir))
            db = Database(db_dir, reset=False)
            databases.append(db)
            for half, into in (("tune", tune), ("held-out", held_out)):
                into.append((site, searchcgi, db.socket,
                             [q for q in site["queries"] if q["half"] == half]))
        tune_queries = [q for entry in tune for q in entry[3]]
        held_queries = [q for entry in held_out for q in entry[3]]
        fixed = {name: float(value) for name, value in (f.split("=", 1) for f in args.fix)}
        candidates = [DEFAULT] + [w for w in GRIDS[args.grid] if w != DEFAULT and all(
            w[name] == value for name, value in fixed.items())]
        tuned = [(w, mean(tune_queries, rank(tune, w))) for w in candidates]
        tuned.sort(key=lambda entry: order_key(entry[1]), reverse=True)
        best = tuned[0][0]
        checked = [("defaults", DEFAULT), ("best on the tune half", best)]
        held = [(w, mean(held_queries, rank(held_out, w))) for _, w in checked]
    finally:
        for db in databases:
            db.stop()
    default_tune = next(scores for w, scores in tuned if w == DEFAULT)
    print(table("Tune half (%d queries), best %d of %d weight sets, and the defaults" % (
        len(tune_queries), args.top, len(candidates)),
        tuned[:args.top] + [(DEFAULT, default_tune)]))
    print()
    print(table("Held-out half (%d queries): the defaults, then the best on the tune half"
                % len(held_queries), held))
    with open(os.path.join(args.out, "tuning.json"), "w") as out:
        json.dump({"tune": [[w, s] for w, s in tuned], "held_out": [[w, s] for w, s in held]},
                  out, indent=1)


if __name__ == "__main__":
    main()
