build :: Integer -> [Integer]
build n = if n < 1 then [] else n : build (n - 1)

total :: [Integer] -> Integer
total [] = 0
total (h : t) = h + total t

main :: IO ()
main = print (total (build 1000000) `mod` 256)
