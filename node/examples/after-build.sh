# nw-builder and pkg: stamp the program once they have written it (data
# appended to it, such as pkg's payload, is kept).
npx quillmark set out/App.exe --file-version 2.4.0 --string "CompanyName=Example Ltd"
