"""The publisher of releases: formats, keys, build and verify."""
