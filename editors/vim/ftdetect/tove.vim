" Programs of the tove language end in .tv.
au BufRead,BufNewFile *.tv setfiletype tove
