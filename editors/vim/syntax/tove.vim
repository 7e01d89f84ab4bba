" Vim syntax file for the tove language (*.tv).
" Install: copy syntax/ and ftdetect/ into ~/.vim (or a package's start/).
if exists("b:current_syntax")
  finish
endif

" Combinators of the prelude: single upper-case letters, K and H the truth
" values; Z the answer of a refused built-in.
syn match toveCombinator "[A-Z]"
syn match toveTruth "[KH]"
syn match toveRefused "Z"

" Numbers: integers (a leading 0 makes them negative), binary fractions 00...
syn match toveNumber "\d\+"
syn match toveFraction "\<00\d*"

" Operators and punctuation with a meaning.
syn match toveOperator "[-+*/%^<>=#&|!~$.@:;?'\"`]"
syn match toveBinder "\\"
syn match toveComma ","

" Binders: the name before a backslash (parameter or definition name) and
" the key of a let k{value}body.
syn match toveParam "\<[a-z_]\+\ze\\"
syn match toveLetKey "\<[a-z_]\+\ze{"
" A global definition: a word at the start of a line before () or a backslash.
syn match toveDefinition "^[a-z_]\{2,}\ze\%(()\)\=\\"
" An operator redefined by name: [+]\...
syn match toveDefinition "^\[[^]\[]\]\ze\\"

" Built-in primitives (the interpreter's registry).
syn keyword toveBuiltin abort abs accept acos addrinfo af_unspec ai_passive asctime asin
syn keyword toveBuiltin assert atan atof atoi atol bind buck bzero calloc cape ceil cent
syn keyword toveBuiltin clearerr closedir closesocket cmpr connect copy cork cos cosh ctime
syn keyword toveBuiltin dash diff difftime dirent eacces ebadf econnaborted efault eintr
syn keyword toveBuiltin einval eio emfile enfile enodev enomem enotsock enxio eopnotsupp
syn keyword toveBuiltin eoverflow erf erfc errno ewouldblock exit exp fabs fclose fd_set
syn keyword toveBuiltin fdopen feof ferror fflush fgetc fgetpos fgets fileno floor fmod
syn keyword toveBuiltin fopen fputc fputs fread free freeaddrinfo frexp fseek fsetpos ftell
syn keyword toveBuiltin fwrite gai_strerror getaddrinfo getc getchar getenv gethostname
syn keyword toveBuiltin getnameinfo getpeername gets gett getu getv getw getx gety getz
syn keyword toveBuiltin gmtime gteq htonl htons hypot inet_ntop inet_pton init isalnum
syn keyword toveBuiltin isalpha isascii isblank isdigit isgraph islower isprint ispunct
syn keyword toveBuiltin isspace isupper labs ldexp leaf leak left less lisp listen lits load
syn keyword toveBuiltin localtime log look lots malloc memchr memcmp memcpy memmove memset
syn keyword toveBuiltin mktime modf mult nextafter ntohl ntohs opendir over perror plus pow
syn keyword toveBuiltin powa putc putchar puts raise rand rand_max rank raws read readdir
syn keyword toveBuiltin real realloc recv recvfrom remove rename rewind rght same send
syn keyword toveBuiltin sendto setbuf setsockopt sett setu setw setx shutdown sin sinh
syn keyword toveBuiltin sock_stream socket sqrt srand stderr stdout strcasecmp strcat strchr
syn keyword toveBuiltin strcmp strcpy strdup strerror strftime strlen strncasecmp strncat
syn keyword toveBuiltin strncmp strncpy strnlen strpbrk strrchr strspn strstr strtod strtok
syn keyword toveBuiltin strtok_r strtol strtoul system tan tanh tern time time_t tmpfile
syn keyword toveBuiltin tmpnam toascii tolower toupper trim type ungetc wave write zits

" Text literals: square brackets nest; inside them every character is text.
syn region toveText start="\[" end="\]" contains=toveText,toveEscape
syn match toveEscape "\[[pqr]\]" contained

hi def link toveCombinator Type
hi def link toveTruth Boolean
hi def link toveRefused Exception
hi def link toveNumber Number
hi def link toveFraction Float
hi def link toveOperator Operator
hi def link toveBinder Statement
hi def link toveComma Delimiter
hi def link toveParam Identifier
hi def link toveLetKey Identifier
hi def link toveDefinition Function
hi def link toveBuiltin Keyword
hi def link toveText String
hi def link toveEscape SpecialChar

let b:current_syntax = "tove"
