# cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<name> -P EmbedText.cmake
# Writes a C++ source defining `extern const char SYMBOL[]` with the file's bytes.
file(READ ${INPUT} content)
file(WRITE ${OUTPUT} "// Generated from ${INPUT}; edit that file instead.\nextern const char ${SYMBOL}[];\nconst char ${SYMBOL}[] = R\"PALO_EMBED(${content})PALO_EMBED\";\n")
