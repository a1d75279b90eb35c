#!/usr/bin/python3
"""The peer of the batch benchmark: what a clerk's colleague would write instead of using
waybill-query, a Python loop over the list with requests.get, one number after another, each
on a fresh connection (requests.get opens a session per call).
  requests_loop.py HOST[:PORT] LIST
Prints how many requests got a 2xx; exits 1 when any did not."""
import sys

import requests


def main():
    if len(sys.argv) != 3:
        print("usage: requests_loop.py HOST[:PORT] LIST", file=sys.stderr)
        return 2
    prefix = "http://" + sys.argv[1] + "/korvanelapi.php?yundanhao="
    answered = failed = 0
    with open(sys.argv[2], "rb") as listing:
        for line in listing:
            number = line.rstrip(b"\r\n").decode("ascii")
            try:
                page = requests.get(prefix + number.replace(" ", "%20") + "&type=html",
                                    timeout=30)
                ok = 200 <= page.status_code < 300  # the whole page has been read
            except requests.RequestException:
                ok = False
            answered += ok
            failed += not ok
    print(f"{answered} answered, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
