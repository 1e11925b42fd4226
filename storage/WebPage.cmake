# What a fetched web page yields: its description or title, read from outside input and fuzzed.
target_sources(corvantis_core PRIVATE WebPage.cpp WebPage.h)
