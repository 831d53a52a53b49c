# HALVORN_PYTHON: Debian's own Python 3, /usr/bin/python3, the one that Debian's packages
# of pefile, asn1crypto and PyYAML install into (another python3 first on PATH, such as
# pyenv's, lacks them); empty where there is none, as on Windows.
find_program(HALVORN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
