"""Ranking quality of one result list against graded judgments.

A ranking is the list of result paths in the order a system gave them (best
first); judgments map a path to its grade: 2 for the page a query names, 1
for a relevant page; a path not judged has grade 0. A path repeated in a
ranking (one page reached by two URLs) counts at its first rank only, as a
reader skips a result already seen.

    reciprocal rank   1 / the rank of the first result of grade > 0, 0 if none
    precision at 1    1 if the first result has grade > 0, else 0
    DCG@k             sum over ranks r = 1..k of (2^grade(r) - 1) / log2(r + 1)
    nDCG@k            DCG@k / the DCG@k of the judged pages in grade order

A query whose ranking holds no relevant page (or is empty) scores 0 on all
three; a query without any judged relevant page is refused (its nDCG would
be undefined).
"""

import math

CUTOFF = 10


def _first_occurrences(ranking):
    seen = set()
    unique = []
    for path in ranking:
        unique.append(None if path in seen else path)
        seen.add(path)
    return unique


def _grades(ranking, judgments, k=None):
    paths = _first_occurrences(ranking)[:k]
    return [judgments.get(path, 0) if path is not None else 0 for path in paths]


def reciprocal_rank(ranking, judgments):
    for rank, grade in enumerate(_grades(ranking, judgments), start=1):
        if grade > 0:
            return 1.0 / rank
    return 0.0


def precision_at_1(ranking, judgments):
    grades = _grades(ranking, judgments, 1)
    return 1.0 if grades and grades[0] > 0 else 0.0


def dcg(grades):
    return sum((2 ** grade - 1) / math.log2(rank + 1)
               for rank, grade in enumerate(grades, start=1))


def ndcg(ranking, judgments, k=CUTOFF):
    ideal = dcg(sorted((g for g in judgments.values() if g > 0), reverse=True)[:k])
    if ideal == 0:
        raise ValueError("a query needs at least one judged relevant page")
    return dcg(_grades(ranking, judgments, k)) / ideal


def score_query(ranking, judgments, k=CUTOFF):
    """The three measures of one query, by name."""
    return {"rr": reciprocal_rank(ranking, judgments), "p1": precision_at_1(ranking, judgments),
            "ndcg": ndcg(ranking, judgments, k)}


def mean_scores(per_query):
    """Means of score_query's values over a list of them; None when the list is empty."""
    if not per_query:
        return {"mrr": None, "p1": None, "ndcg": None, "queries": 0}
    count = len(per_query)
    return {"mrr": sum(q["rr"] for q in per_query) / count,
            "p1": sum(q["p1"] for q in per_query) / count,
            "ndcg": sum(q["ndcg"] for q in per_query) / count,
            "queries": count}
