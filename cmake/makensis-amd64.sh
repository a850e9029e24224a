#!/bin/sh
# makensis making a 64-bit installer: CPack cannot hand makensis an option holding a space.
exec makensis "-XTarget amd64-unicode" "$@"
