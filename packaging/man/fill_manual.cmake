# Fills the manual page TEMPLATE: its line "@OPTIONS@" with the contents of OPTIONS, and
# @PROJECT_VERSION@ with VERSION; writes OUTPUT.
cmake_minimum_required(VERSION 3.25)
file(READ ${TEMPLATE} page)
file(READ ${OPTIONS} options)
string(REPLACE "@OPTIONS@\n" "${options}" page "${page}")
string(REPLACE "@PROJECT_VERSION@" "${VERSION}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
