#!/usr/bin/python3
# Browses SSDP with GSSDP, an SSDP stack independent of ours, and prints
# one tab-separated line per resource it learns of:
#   available  USN  LOCATION...
#   unavailable  USN
# It multicasts: run it only inside scripts/testnet.
#
#   gssdp-browse.py INTERFACE TARGET SECONDS [MX]
import sys

import gi

gi.require_version("GSSDP", "1.6")
from gi.repository import GLib, GSSDP  # noqa: E402


def main():
    if len(sys.argv) not in (4, 5):
        print("usage: gssdp-browse.py INTERFACE TARGET SECONDS [MX]", file=sys.stderr)
        return 2
    interface, target, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    client = GSSDP.Client.new_full(interface, None, 0, GSSDP.UDAVersion.VERSION_1_0)
    browser = GSSDP.ResourceBrowser.new(client, target)
    if len(sys.argv) == 5:
        browser.set_mx(int(sys.argv[4]))

    def available(_browser, usn, locations):
        print("available\t%s\t%s" % (usn, "\t".join(locations)), flush=True)

    def unavailable(_browser, usn):
        print("unavailable\t%s" % usn, flush=True)

    browser.connect("resource-available", available)
    browser.connect("resource-unavailable", unavailable)
    browser.set_active(True)
    loop = GLib.MainLoop()
    GLib.timeout_add(int(seconds * 1000), loop.quit)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
